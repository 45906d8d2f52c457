// The module definition and its exec step.
#include "module.hpp"

#include <cstring>
#include <string>

#include "core_array_object.hpp"
#include "enums.hpp"
#include "table_objects.hpp"

namespace tessra::py {

namespace {

// The order in which the exec step adds the module functions (and so their order in __all__).
constexpr const char* kFunctionOrder[] = {
    "array_all", "array_any", "array_sum_f32", "array_sum_i32", "array_mean_f32",
    "array_matmul_f32", "array_matmul_2d_f32", "array_dot_product_f32", "array_sum_f32_strided",
    "array_mean_f32_strided", "array_max_f32_strided", "array_min_f32_strided",
    "set_backend_policy", "get_backend_policy", "explain_last_dispatch", "get_math_backend_info",
    "array_add_f32", "array_sub_f32", "array_mul_f32", "array_div_f32", "enable_profiling",
    "disable_profiling", "clear_profile", "get_profile_report", "set_profile_context",
    "metal_is_available", "metal_sum_f32", "metal_mean_f32", "metal_max_f32", "metal_min_f32",
    "metal_matmul_f32", "metal_add_f32", "metal_sub_f32", "metal_mul_f32", "metal_div_f32",
    "metal_transpose_f32", "metal_broadcast_op", "cuda_is_available", "cuda_add_f32",
    "get_system_capabilities", "get_capabilities_summary", "recommend_backend",
    "analyse_workload", "sum_as_string", "random_uniform_f32", "random_normal_f32", "read_csv",
};

FunctionTable& functions() {
    static FunctionTable table = [] {
        FunctionTable all;
        add_random_functions(all);
        add_table_functions(all);
        add_backend_functions(all);
        add_hardware_functions(all);
        FunctionTable ordered;
        for (const char* name : kFunctionOrder)
            for (const PyMethodDef& def : all)
                if (std::strcmp(def.ml_name, name) == 0) ordered.push_back(def);
        return ordered;
    }();
    return table;
}

// Appends `name` to __all__ (made when missing) and sets the attribute.
int export_name(PyObject* module, PyObject* name, PyObject* value) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            return -1;
        }
    }
    int rc = PyList_Check(all) ? PyList_Append(all, name) : -1;
    if (rc < 0 && !PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
    Py_DECREF(all);
    if (rc < 0) return -1;
    return PyObject_SetAttr(module, name, value);
}

int init_module(PyObject* module) {
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, "expected a module object");
        return -1;
    }
    PyObject* modname = PyModule_GetNameObject(module);
    if (modname == nullptr) return -1;
    for (PyMethodDef& def : functions()) {
        PyObject* fn = PyCFunction_NewEx(&def, module, modname);
        PyObject* name = fn ? PyObject_GetAttrString(fn, "__name__") : nullptr;
        int rc = name ? export_name(module, name, fn) : -1;
        Py_XDECREF(name);
        Py_XDECREF(fn);
        if (rc < 0) {
            Py_DECREF(modname);
            return -1;
        }
    }
    Py_DECREF(modname);

    struct ClassEntry {
        const char* name;
        PyTypeObject* (*get)();
    };
    const ClassEntry classes[] = {
        {"CoreArray", core_array_type_object},
        {"DType", dtype_type_object},
        {"DataFrame", dataframe_type_object},
        {"Series", series_type_object},
        {"GroupBy", groupby_type_object},
        {"RngAlgorithm", rng_algorithm_type_object},
    };
    for (const ClassEntry& c : classes) {
        PyObject* type = guard([&] { return reinterpret_cast<PyObject*>(c.get()); });
        if (type == nullptr) return -1;
        PyObject* name = PyUnicode_FromString(c.name);
        int rc = name ? export_name(module, name, type) : -1;
        Py_XDECREF(name);
        if (rc < 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(init_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "_tessra_rust",
    "Native implementation of tessra.\n\n"
    "This module exports its functions to Python through the binding layer. "
    "All function signatures use raw addresses for zero-copy performance.",
    0,
    nullptr,
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace tessra::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__tessra_rust() {
    return PyModuleDef_Init(&tessra::py::kModule);
}
