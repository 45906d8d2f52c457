#include "backend/policy.hpp"

#include <atomic>
#include <chrono>

namespace tessra::backend {

namespace {

std::atomic<uint8_t> g_policy{0};
LastDispatch g_last;

uint8_t effective(uint8_t v) { return v >= 1 && v <= 8 ? v : 0; }

}  // namespace

const char* policy_name(uint8_t policy) {
    static constexpr const char* kNames[] = {"Default", "Openblas", "Blas", "Cuda", "Metal",
                                             "Mkl", "Aocl", "Accelerate", "RustParallel"};
    return kNames[effective(policy)];
}

const char* dispatch_backend_name(uint8_t code) {
    static constexpr const char* kNames[] = {"Tessra NEON", "OpenBLAS", "BLAS", "CUDA", "Metal",
                                             "MKL", "AOCL", "Accelerate", "RustParallel"};
    return kNames[effective(code)];
}

void set_backend_policy(uint8_t value) { g_policy.store(effective(value), std::memory_order_relaxed); }

BackendPolicy backend_policy() {
    return static_cast<BackendPolicy>(effective(g_policy.load(std::memory_order_relaxed)));
}

LastDispatch& last_dispatch() { return g_last; }

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
