#pragma once
// Module functions are contributed by groups; the exec step adds them in one fixed order.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "methods.hpp"

namespace tessra::py {


// Each group of module functions has one `add_*_functions(MethodTable&)` that appends its
// records; module.cpp calls every group and then orders the result.
void add_random_functions(MethodTable& t);
void add_table_functions(MethodTable& t);
void add_backend_functions(MethodTable& t);
void add_hardware_functions(MethodTable& t);
void add_advice_functions(MethodTable& t);
void add_profiler_functions(MethodTable& t);
void add_raw_address_functions(MethodTable& t);
void add_metal_functions(MethodTable& t);

}  // namespace tessra::py
