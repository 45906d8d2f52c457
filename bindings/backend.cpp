// Module functions of the back-end policy, the last-dispatch record and the math library.
#include "backend/policy.hpp"
#include "core_array_object.hpp"
#include "hardware/capabilities.hpp"
#include "hardware/math_backend.hpp"
#include "module.hpp"
#include "ref.hpp"

namespace tessra::py {

namespace {

PyObject* f_set_backend_policy(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("set_backend_policy", {{"policy"}}, args, n, kw);
        const int64_t v = a.get(0, load_i64);
        if (v < 0 || v > 255) throw overflow_error("out of range integral type conversion attempted");
        backend::set_backend_policy(static_cast<uint8_t>(v));
        Py_RETURN_NONE;
    });
}

PyObject* f_get_backend_policy(PyObject*, PyObject*) {
    return guard([&] { return PyLong_FromLong(static_cast<long>(backend::backend_policy())); });
}

PyObject* f_explain_last_dispatch(PyObject*, PyObject*) {
    return guard([&] { return new_str(backend::explain_last_dispatch()); });
}

PyObject* f_get_math_backend_info(PyObject*, PyObject*) {
    return guard([&] {
        const hw::MathBackend lib = hw::detect_math_backend();
        const hw::CpuInfo& info = hw::detect_cpu_info();
        Ref d = Ref::steal(PyDict_New());
        dict_set(d.get(), "backend", PyUnicode_FromString(hw::math_backend_text(lib)));
        dict_set(d.get(), "vendor", PyUnicode_FromString(hw::vendor_display_text(info.vendor)));
        dict_set(d.get(), "threads", PyLong_FromUnsignedLongLong(hw::blas_thread_count(2048, lib)));
        dict_set(d.get(), "hyperthreading", PyBool_FromLong(info.hyperthread));
        dict_set(d.get(), "brand", new_str(info.name));
        dict_set(d.get(), "physical_cores", PyLong_FromUnsignedLongLong(hw::physical_core_count()));
        dict_set(d.get(), "logical_cores",
                 PyLong_FromUnsignedLongLong(hw::configured_processor_count()));
        return d.release();
    });
}

}  // namespace

void add_backend_functions(MethodTable& t) {
    t.push_back({"set_backend_policy", TESSRA_FASTCALL(f_set_backend_policy), kArgsKw,
                 "set_backend_policy(policy)\n--\n\n"
                 "Set the compute back-end policy (0 Default, 1 Openblas, 2 Blas, 3 Cuda, 4 Metal, "
                 "5 Mkl, 6 Aocl, 7 Accelerate, 8 RustParallel)."});
    t.push_back({"get_backend_policy", f_get_backend_policy, METH_NOARGS,
                 "get_backend_policy()\n--\n\nThe current compute back-end policy (0-8)."});
    t.push_back({"explain_last_dispatch", f_explain_last_dispatch, METH_NOARGS,
                 "explain_last_dispatch()\n--\n\nDescribe the last CPU matrix product's road."});
    t.push_back({"get_math_backend_info", f_get_math_backend_info, METH_NOARGS,
                 "get_math_backend_info()\n--\n\n"
                 "Return information about the currently selected math backend.\n\n"
                 "Keys:\n"
                 "- \"backend\" (str): \"MKL\", \"AOCL\", \"Accelerate\", \"OpenBLAS\" or "
                 "\"RustParallel\"\n"
                 "- \"vendor\" (str): \"Intel\", \"AMD\", \"Apple Silicon\" or \"Unknown\"\n"
                 "- \"threads\" (int): threads of a 2048-sized product\n"
                 "- \"hyperthreading\" (bool): more logical than physical cores\n"
                 "- \"brand\" (str): the CPU's name"});
}

}  // namespace tessra::py
