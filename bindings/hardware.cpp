// Module functions that show the detected hardware.
#include "core_array_object.hpp"
#include "hardware/capabilities.hpp"
#include "module.hpp"
#include "ref.hpp"

namespace tessra::py {

namespace {

PyObject* f_get_system_capabilities(PyObject*, PyObject*) {
    return guard([&] {
        const hw::SystemCapabilities& c = hw::detect_system_capabilities();
        Ref result = Ref::steal(PyDict_New());
        Ref cpu = Ref::steal(PyDict_New());
        dict_set(cpu.get(), "arch", PyUnicode_FromString(hw::arch_text(c.arch)));
        dict_set(cpu.get(), "cores", PyLong_FromUnsignedLongLong(c.cores));
        dict_set(cpu.get(), "physical_cores", PyLong_FromUnsignedLongLong(c.physical_cores));
        dict_set(cpu.get(), "has_avx2", PyBool_FromLong(c.has_avx2));
        dict_set(cpu.get(), "has_avx512", PyBool_FromLong(c.has_avx512));
        dict_set(cpu.get(), "has_fma", PyBool_FromLong(c.has_fma));
        dict_set(cpu.get(), "has_neon", PyBool_FromLong(c.has_neon));
        dict_set(cpu.get(), "l1_cache", PyLong_FromUnsignedLongLong(c.l1_cache));
        dict_set(cpu.get(), "l2_cache", PyLong_FromUnsignedLongLong(c.l2_cache));
        dict_set(cpu.get(), "l3_cache", PyLong_FromUnsignedLongLong(c.l3_cache));
        dict_set(cpu.get(), "best_simd", PyUnicode_FromString(hw::best_simd_text(c)));
        dict_set(result.get(), "cpu", cpu.release());
        Ref gpu = Ref::steal(PyDict_New());
        dict_set(gpu.get(), "metal_available", PyBool_FromLong(c.metal_available));
        dict_set(gpu.get(), "cuda_available", PyBool_FromLong(c.cuda_available));
        dict_set(gpu.get(), "rocm_available", PyBool_FromLong(c.rocm_available));
        if (const char* best = hw::best_gpu_text(c))
            dict_set(gpu.get(), "best_gpu", PyUnicode_FromString(best));
        dict_set(result.get(), "gpu", gpu.release());
        return result.release();
    });
}

PyObject* f_get_capabilities_summary(PyObject*, PyObject*) {
    return guard([&] {
        return new_str(hw::capabilities_summary(hw::detect_system_capabilities()));
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
