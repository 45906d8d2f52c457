#include "backend/select.hpp"

#include "backend/cpu_backend.hpp"
#include "backend/metal_backend.hpp"
#include "backend/policy.hpp"
#include "hardware/capabilities.hpp"
#include "util/saturating.hpp"

namespace tessra::backend {

std::string backend_error_message(const BackendError& e) {
    switch (e.kind) {
        case BackendError::NotAvailable: return "Backend not available: " + e.message;
        case BackendError::UnsupportedOperation: return "Unsupported operation: " + e.message;
        case BackendError::InvalidInput: return "Invalid input: " + e.message;
        case BackendError::ExecutionError: return "Execution error: " + e.message;
        case BackendError::OutOfMemory: break;
    }
    return "Out of memory";
}

const ComputeBackend& select_backend(const WorkloadEstimate& estimate) {
    const BackendPolicy p = backend_policy();
    if (p == BackendPolicy::Metal) {
        if (const MetalBackend* metal = metal_backend()) return *metal;
        return cpu_backend();
    }
    if (p != BackendPolicy::Default) return cpu_backend();
    const hw::SystemCapabilities& caps = hw::detect_system_capabilities();
    if (estimate.flops > kCpuFlopsMax && !caps.cuda_available && caps.metal_available)
        if (const MetalBackend* metal = metal_backend()) return *metal;
    return cpu_backend();
}

std::optional<std::string> dispatch_matmul(const float* a, const float* b, float* c, uint64_t m,
                                           uint64_t k, uint64_t n) {
    // Saturating, so that a product too large for 64 bits never looks small.
    const uint64_t elements = saturating_add(saturating_mul(m, n),
                                             saturating_mul(saturating_add(m, n), k));
    const WorkloadEstimate estimate{saturating_mul({2, m, k, n}), saturating_mul(4, elements),
                                    false};
    BackendStatus s = select_backend(estimate).matmul_f32(a, b, c, m, k, n);
    if (!s) return backend_error_message(s.error());
    return std::nullopt;
}

}  // namespace tessra::backend
