#pragma once
// What the machine offers, learned once per process: SystemCapabilities, CpuInfo and the
// physical core count, each made by its first user and never refreshed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessra::hw {

enum class CpuArch : uint8_t { X86 = 0, X86_64 = 1, Aarch64 = 2, Other = 3 };
enum class CpuVendor : uint8_t { Intel = 0, Amd = 1, Apple = 2, Unknown = 3 };

const char* arch_text(CpuArch a);
const char* vendor_display_text(CpuVendor v);  // "AMD", "Apple Silicon", ...
const char* vendor_debug_text(CpuVendor v);    // "Amd", "Apple", ...

struct SystemCapabilities {
    uint64_t cores;
    uint64_t physical_cores;
    uint64_t l1_cache;
    uint64_t l2_cache;
    uint64_t l3_cache;
    CpuArch arch;
    bool has_avx2;
    bool has_avx512;
    bool has_fma;
    bool has_neon;
    bool has_sve;
    bool metal_available;
    bool cuda_available;
    bool rocm_available;
};

struct CpuInfo {
    std::string name;
    bool hyperthread;
    CpuVendor vendor;
};

const SystemCapabilities& detect_system_capabilities();
const CpuInfo& detect_cpu_info();
// The physical core count, cached on first use.
uint64_t init_physical_core_count();

// Configured processors (sysconf), at least 1; read afresh at every call.
uint64_t configured_processor_count();
// Physical cores through sysctlbyname("hw.physicalcpu"), else the configured count.
uint64_t physical_core_count();

// Standard output of `sysctl -n KEY` as an unsigned number, or nothing.
std::optional<uint64_t> sysctl_u64(const char* key);
// The number rule of sysctl_u64 on captured output: valid UTF-8, Unicode white space trimmed,
// an optional '+', decimal digits that fit 64 bits.
std::optional<uint64_t> parse_sysctl_output(std::string_view out);

// "AVX-512", "AVX2+FMA", "SVE", "NEON" or "Scalar".
const char* best_simd_text(const SystemCapabilities& c);
// "Metal", "CUDA", "ROCm", or null when there is no GPU.
const char* best_gpu_text(const SystemCapabilities& c);
// "CPU: X86_64 (8 cores, 524288 L2 Cache, SIMD: AVX2+FMA), GPU: None"
std::string capabilities_summary(const SystemCapabilities& c);

}  // namespace tessra::hw
