// The module definition and its exec step.
#include "module.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "core_array_object.hpp"
#include "enums.hpp"
#include "ref.hpp"
#include "table_objects.hpp"
#include "util/panic.hpp"

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

MethodTable& functions() {
    static MethodTable table = [] {
        MethodTable all;
        add_random_functions(all);
        add_table_functions(all);
        add_backend_functions(all);
        add_hardware_functions(all);
        add_advice_functions(all);
        add_profiler_functions(all);
        add_raw_address_functions(all);
        add_metal_functions(all);
        for (const PyMethodDef& def : all) {
            const auto same = [&](const char* name) { return std::strcmp(name, def.ml_name) == 0; };
            if (std::ranges::none_of(kFunctionOrder, same))
                panic(std::string("Module function ") + def.ml_name + " has no place in the order");
        }
        MethodTable ordered;
        for (const char* name : kFunctionOrder)
            for (const PyMethodDef& def : all)
                if (std::strcmp(def.ml_name, name) == 0) ordered.push_back(def);
        return ordered;
    }();
    return table;
}

// Appends `name` to __all__ (made when missing) and sets the attribute.
void export_name(PyObject* module, PyObject* name, PyObject* value) {
    Ref all;
    if (PyObject* found = PyObject_GetAttrString(module, "__all__")) {
        all = Ref::steal(found);
    } else {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PyErrSet{};
        PyErr_Clear();
        all = Ref::steal(PyList_New(0));
        check_status(PyObject_SetAttrString(module, "__all__", all.get()));
    }
    if (!PyList_Check(all.get())) {
        PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
        throw PyErrSet{};
    }
    check_status(PyList_Append(all.get(), name));
    check_status(PyObject_SetAttr(module, name, value));
}

int init_module(PyObject* module) {
    return guard_int([&] {
        if (!PyModule_Check(module)) {
            PyErr_SetString(PyExc_TypeError, "expected a module object");
            throw PyErrSet{};
        }
        Ref modname = Ref::steal(PyModule_GetNameObject(module));
        for (PyMethodDef& def : functions()) {
            Ref fn = Ref::steal(PyCFunction_NewEx(&def, module, modname.get()));
            Ref name = Ref::steal(PyObject_GetAttrString(fn.get(), "__name__"));
            export_name(module, name.get(), fn.get());
        }

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
            auto* type = reinterpret_cast<PyObject*>(c.get());
            export_name(module, Ref::steal(PyUnicode_FromString(c.name)).get(), type);
        }
        return 0;
    });
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(init_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "_tessra_rust",  // the name Python imports; PyInit__tessra_rust below must match it
    "Native implementation of tessra.\n\n"
    "This module exports its functions and classes to Python through the binding layer.",
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
