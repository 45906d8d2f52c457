#pragma once
// Module functions are contributed by groups; the exec step adds them in one fixed order.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <vector>

namespace tessra::py {

using FunctionTable = std::vector<PyMethodDef>;

// Each group of module functions has one `add_*_functions(FunctionTable&)` that appends its
// records; module.cpp calls every group and then orders the result.
void add_random_functions(FunctionTable& t);
void add_table_functions(FunctionTable& t);
void add_backend_functions(FunctionTable& t);
void add_hardware_functions(FunctionTable& t);

}  // namespace tessra::py
