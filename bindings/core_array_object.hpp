#pragma once
// The Python CoreArray class: object layout, class object, and the move of a result array
// into a new Python object.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <vector>

#include "args.hpp"
#include "array/core_array.hpp"
#include "borrow.hpp"
#include "methods.hpp"

namespace tessra::py {

struct CoreArrayObject {
    PyObject_HEAD
    BorrowFlag borrow;
    CoreArray value;
};

using SharedArray = Shared<CoreArrayObject>;

PyTypeObject* core_array_type_object();
// Moves `a` into a new Python CoreArray (of `type`, a subclass when called through one).
PyObject* new_core_array_object(CoreArray&& a, PyTypeObject* type = nullptr);
// Result of a core operation, wrapped as a new Python object (the error is raised otherwise).
inline PyObject* wrap(Result<CoreArray>&& r) { return new_core_array_object(unwrap(std::move(r))); }
inline PyObject* wrap(CoreArray&& a) { return new_core_array_object(std::move(a)); }

// A CoreArray argument (the class or a subclass), else TypeError naming both types.
CoreArrayObject* load_core_array(PyObject* o);
inline CoreArrayObject* as_array(PyObject* self) { return reinterpret_cast<CoreArrayObject*>(self); }

// ---- method groups: each file of CoreArray methods appends its table entries ------------
void add_core_array_view_methods(MethodTable& t);
void add_construction_methods(MethodTable& t);
void add_reduction_methods(MethodTable& t);
void add_shape_index_methods(MethodTable& t);
void add_sort_methods(MethodTable& t);
void add_elementwise_binary_methods(MethodTable& t);
void add_elementwise_unary_methods(MethodTable& t);
void add_matmul_methods(MethodTable& t);
void add_linalg_methods(MethodTable& t);

// tp_new of CoreArray: CoreArray(data, shape).
PyObject* core_array_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace tessra::py
