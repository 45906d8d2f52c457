#pragma once
// The enumeration classes DType and RngAlgorithm: one shared instance per value.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

#include "array/dtype.hpp"

namespace tessra::py {

PyTypeObject* dtype_type_object();
PyTypeObject* rng_algorithm_type_object();

// New references to the shared instances.
PyObject* dtype_object(DType t);
PyObject* rng_algorithm_object(uint8_t value);

// Converters: an instance of the class (or a subclass), else TypeError.
DType load_dtype(PyObject* o);
uint8_t load_rng_algorithm(PyObject* o);

}  // namespace tessra::py
