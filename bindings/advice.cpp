// Module functions that advise on a back-end without running anything.
#include "backend/advice.hpp"
#include "core_array_object.hpp"
#include "hardware/capabilities.hpp"
#include "module.hpp"

namespace tessra::py {

namespace {

PyObject* f_recommend_backend(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("recommend_backend", {{"flops"}, {"memory_bytes"}, {"is_batched"}}, args, n, kw);
        const uint64_t flops = a.get(0, load_u64);
        const uint64_t memory_bytes = a.get(1, load_u64);
        a.get(2, load_bool);  // accepted for the signature's sake; the advice does not use it
        return PyUnicode_FromString(
            backend::recommend_backend(hw::detect_system_capabilities(), flops, memory_bytes));
    });
}

PyObject* f_analyse_workload(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("analyse_workload", {{"matrix_size"}, {"small_threshold"}, {"gpu_threshold"}}, args, n, kw);
        const uint64_t size = a.get(0, load_u64);
        const uint64_t small = a.get(1, load_u64);
        const uint64_t gpu = a.get(2, load_u64);
        const std::string s = backend::analyse_workload(backend::detect_advice_hardware(), size, small, gpu);
        return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
    });
}

}  // namespace

void add_advice_functions(MethodTable& t) {
    t.push_back({"recommend_backend", TESSRA_FASTCALL(f_recommend_backend), kArgsKw,
                 "recommend_backend(flops, memory_bytes, is_batched)\n--\n\n"
                 "Name a compute back-end for a workload of `flops` operations over "
                 "`memory_bytes` bytes."});
    t.push_back({"analyse_workload", TESSRA_FASTCALL(f_analyse_workload), kArgsKw,
                 "analyse_workload(matrix_size, small_threshold, gpu_threshold)\n--\n\n"
                 "Summarise the hardware and the back-end tier chosen for a square matrix product."});
}

}  // namespace tessra::py
