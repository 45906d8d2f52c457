#include "backend/policy.hpp"

#include <atomic>
#include <chrono>

namespace tessra::backend {

namespace {

std::atomic<BackendPolicy> g_policy{BackendPolicy::Default};
LastDispatch g_last;

}  // namespace

const char* policy_name(BackendPolicy policy) {
    static constexpr const char* kNames[] = {"Default", "Openblas", "Blas", "Cuda", "Metal",
                                             "Mkl", "Aocl", "Accelerate", "RustParallel"};
    return kNames[static_cast<uint8_t>(policy)];
}

const char* dispatch_backend_name(DispatchBackend code) {
    static constexpr const char* kNames[] = {"Tessra NEON", "OpenBLAS", "BLAS", "CUDA", "Metal",
                                             "MKL", "AOCL", "Accelerate", "RustParallel"};
    return kNames[static_cast<uint8_t>(code)];
}

void set_backend_policy(uint8_t value) {
    const bool named = value >= 1 && value <= 8;
    g_policy.store(named ? BackendPolicy(value) : BackendPolicy::Default,
                   std::memory_order_relaxed);
}

BackendPolicy backend_policy() { return g_policy.load(std::memory_order_relaxed); }

const LastDispatch& last_dispatch() { return g_last; }

void record_small_product() { g_last.current_backend = DispatchBackend::Neon; }

void record_product(BackendPolicy policy, DispatchBackend backend, uint64_t m, uint64_t k,
                    uint64_t n) {
    g_last = {backend, policy, backend, k, m, n};
}

std::string explain_last_dispatch() {
    const LastDispatch d = g_last;
    const auto first = std::chrono::steady_clock::now();
    if (d.m == 0 && d.n == 0 && d.k == 0)
        return std::string(dispatch_backend_name(d.current_backend)) + " backend";
    const auto second = std::chrono::steady_clock::now();
    const auto us = second > first
        ? std::chrono::duration_cast<std::chrono::microseconds>(second - first).count() : 0;
    return std::string("matmul \xE2\x86\x92 ") + dispatch_backend_name(d.backend) +
           " (size=" + std::to_string(d.m) + "x" + std::to_string(d.n) + "x" +
           std::to_string(d.k) + ", policy=" + policy_name(d.policy) + ", " +
           std::to_string(us) + "\xC2\xB5s ago)";
}

}  // namespace tessra::backend
