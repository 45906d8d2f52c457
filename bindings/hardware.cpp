// Module functions that show the detected hardware.
#include "core_array_object.hpp"
#include "hardware/capabilities.hpp"
#include "module.hpp"

namespace tessra::py {

namespace {

void put(PyObject* d, const char* key, PyObject* value) {
    check(value);
    const int rc = PyDict_SetItemString(d, key, value);
    Py_DECREF(value);
    check_status(rc);
}

PyObject* f_get_system_capabilities(PyObject*, PyObject*) {
    return guard([&] {
        const hw::SystemCapabilities& c = hw::detect_system_capabilities();
        PyObject* result = check(PyDict_New());
        try {
            PyObject* cpu = check(PyDict_New());
            put(result, "cpu", cpu);  // the dict keeps it alive while it is filled
            put(cpu, "arch", PyUnicode_FromString(hw::arch_text(c.arch)));
            put(cpu, "cores", PyLong_FromUnsignedLongLong(c.cores));
            put(cpu, "physical_cores", PyLong_FromUnsignedLongLong(c.physical_cores));
            put(cpu, "has_avx2", PyBool_FromLong(c.has_avx2));
            put(cpu, "has_avx512", PyBool_FromLong(c.has_avx512));
            put(cpu, "has_fma", PyBool_FromLong(c.has_fma));
            put(cpu, "has_neon", PyBool_FromLong(c.has_neon));
            put(cpu, "l1_cache", PyLong_FromUnsignedLongLong(c.l1_cache));
            put(cpu, "l2_cache", PyLong_FromUnsignedLongLong(c.l2_cache));
            put(cpu, "l3_cache", PyLong_FromUnsignedLongLong(c.l3_cache));
            put(cpu, "best_simd", PyUnicode_FromString(hw::best_simd_text(c)));
            PyObject* gpu = check(PyDict_New());
            put(result, "gpu", gpu);
            put(gpu, "metal_available", PyBool_FromLong(c.metal_available));
            put(gpu, "cuda_available", PyBool_FromLong(c.cuda_available));
            put(gpu, "rocm_available", PyBool_FromLong(c.rocm_available));
            if (const char* best = hw::best_gpu_text(c)) put(gpu, "best_gpu", PyUnicode_FromString(best));
        } catch (...) {
            Py_DECREF(result);
            throw;
        }
        return result;
    });
}

PyObject* f_get_capabilities_summary(PyObject*, PyObject*) {
    return guard([&] {
        const std::string s = hw::capabilities_summary(hw::detect_system_capabilities());
        return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
    });
}

}  // namespace

void add_hardware_functions(MethodTable& t) {
    t.push_back({"get_system_capabilities", f_get_system_capabilities, METH_NOARGS,
                 "get_system_capabilities()\n--\n\nGet system capabilities as a Python dict"});
    t.push_back({"get_capabilities_summary", f_get_capabilities_summary, METH_NOARGS,
                 "get_capabilities_summary()\n--\n\nGet a human-readable summary of system "
                 "capabilities"});
}

}  // namespace tessra::py
