#include "backend/advice.hpp"

#include <algorithm>

#include "backend/select.hpp"
#include "platform/metal.hpp"

namespace tessra::backend {

const char* tier_text(BackendTier t) {
    switch (t) {
        case BackendTier::Cuda: return "Cuda";
        case BackendTier::Metal: return "Metal";
        case BackendTier::Mkl: return "Mkl";
        case BackendTier::OpenBlas: return "OpenBlas";
        case BackendTier::Faer: return "Faer";
        case BackendTier::Simd: return "Simd";
        case BackendTier::Naive: break;
    }
    return "Naive";
}

const char* recommend_backend(const hw::SystemCapabilities& caps, uint64_t flops, uint64_t memory_bytes) {
    if (flops > kCpuFlopsMax) {
        if (caps.cuda_available) return "CUDA";
        if (caps.metal_available) return "Metal";
    }
    const uint64_t m = std::max<uint64_t>(memory_bytes, 1);
    // Single precision on purpose: the threshold compares the rounded ratio.
    const float r = static_cast<float>(flops) / static_cast<float>(m);
    if (r < 0.5f) {
        if (m >= caps.l2_cache) return m < caps.l3_cache ? "Faer" : "OpenBLAS";
    } else if (flops >= 100'000) {
        return caps.has_avx512 ? "MKL" : "Faer";
    }
    if (caps.has_avx2 || caps.has_avx512) return "CustomAVX2";
    return caps.has_neon ? "CustomNeon" : "GenericCPU";
}

std::string analyse_workload(const AdviceHardware& hw, uint64_t matrix_size, uint64_t small_threshold,
                             uint64_t gpu_threshold) {
    const std::string n = std::to_string(matrix_size);
    BackendTier tier;
    std::string reason;
    const char* perf_class;
    if (matrix_size > gpu_threshold && hw.gpu_name) {
        tier = BackendTier::Metal;
        reason = "GPU available + large matrix (" + n + " > " + std::to_string(gpu_threshold) + ")";
        perf_class = "HPC";
    } else if (matrix_size <= small_threshold) {
        tier = BackendTier::Simd;
        reason = "Small matrix (" + n + " <= " + std::to_string(small_threshold) +
                 ") with SIMD features available";
        perf_class = "Medium (Small Kernel)";
    } else {
        tier = BackendTier::Faer;
        reason = "Pure Rust fallback (default safe)";
        perf_class = "Medium";
    }
    const char* gpu_name = hw.gpu_name && !hw.gpu_name->empty() ? hw.gpu_name->c_str() : "N/A";
    std::string s = "Hardware Summary:\nCPU: ";
    s += hw::vendor_debug_text(hw.vendor);
    s += "\nAVX2: ";
    s += hw.has_avx2 ? "Yes" : "No";
    s += "\nAVX512: ";
    s += hw.has_avx512 ? "Yes" : "No";
    s += "\nGPU: ";
    s += hw.gpu_name ? "Available" : "None";
    s += " (";
    s += gpu_name;
    s += ")\n\nWorkload: " + n + "x" + n + " matmul\n\nDecision:\n\u2192 ";
    s += tier_text(tier);
    s += " selected\nReason: " + reason + "\nExpected Performance Class: " + perf_class +
         "\nFallback Chain: Cuda/Metal \u2192 MKL \u2192 OpenBLAS \u2192 Faer \u2192 SIMD \u2192 Naive";
    return s;
}

AdviceHardware detect_advice_hardware() {
    const hw::SystemCapabilities& caps = hw::detect_system_capabilities();
    AdviceHardware out{hw::detect_cpu_info().vendor, caps.has_avx2, caps.has_avx512, std::nullopt};
    if (std::shared_ptr<platform::MetalDevice> device =
            platform::create_system_default_metal_device())
        out.gpu_name = device->name();
    return out;
}

}  // namespace tessra::backend
