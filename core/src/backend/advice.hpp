#pragma once
// Advice from a workload's size and the detected hardware; nothing is run.
#include <cstdint>
#include <optional>
#include <string>

#include "hardware/capabilities.hpp"

namespace tessra::backend {

enum class BackendTier : uint8_t { Cuda = 0, Metal = 1, Mkl = 2, OpenBlas = 3, Faer = 4, Simd = 5, Naive = 6 };

const char* tier_text(BackendTier t);

// A back-end name for `flops` operations over `memory_bytes` bytes.
const char* recommend_backend(const hw::SystemCapabilities& caps, uint64_t flops, uint64_t memory_bytes);

// The hardware the workload analysis reports.
struct AdviceHardware {
    hw::CpuVendor vendor;
    bool has_avx2;
    bool has_avx512;
    std::optional<std::string> gpu_name;  // set when a device exists ("" when it has no name)
};

// The thirteen-line hardware summary and decision for an n×n matrix product.
std::string analyse_workload(const AdviceHardware& hw, uint64_t matrix_size, uint64_t small_threshold,
                             uint64_t gpu_threshold);

// The detected processor and a device asked for afresh, released before returning.
AdviceHardware detect_advice_hardware();

}  // namespace tessra::backend
