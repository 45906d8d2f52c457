#include "hardware/capabilities.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/cpuid.hpp"
#include "platform/metal.hpp"
#include "platform/sysctl.hpp"
#include "hardware/env_text.hpp"
#include "util/decimal.hpp"
#include "util/utf8.hpp"

namespace tessra::hw {

const char* arch_text(CpuArch a) {
    switch (a) {
        case CpuArch::X86: return "X86";
        case CpuArch::X86_64: return "X86_64";
        case CpuArch::Aarch64: return "Aarch64";
        case CpuArch::Other: break;
    }
    return "Other";
}

const char* vendor_display_text(CpuVendor v) {
    switch (v) {
        case CpuVendor::Intel: return "Intel";
        case CpuVendor::Amd: return "AMD";
        case CpuVendor::Apple: return "Apple Silicon";
        case CpuVendor::Unknown: break;
    }
    return "Unknown";
}

const char* vendor_debug_text(CpuVendor v) {
    switch (v) {
        case CpuVendor::Intel: return "Intel";
        case CpuVendor::Amd: return "Amd";
        case CpuVendor::Apple: return "Apple";
        case CpuVendor::Unknown: break;
    }
    return "Unknown";
}

uint64_t configured_processor_count() {
    long n = sysconf(_SC_NPROCESSORS_CONF);
    return n < 1 ? 1 : static_cast<uint64_t>(n);
}

uint64_t physical_core_count() {
    int32_t count = 0;
    size_t len = sizeof(count);
    if (platform::sysctlbyname("hw.physicalcpu", &count, &len, nullptr, 0) == 0 && count > 0)
        return static_cast<uint64_t>(count);
    return configured_processor_count();
}

uint64_t init_physical_core_count() {
    static const uint64_t count = physical_core_count();
    return count;
}

// ---- sysctl output ----------------------------------------------------------------------

std::optional<uint64_t> parse_sysctl_output(std::string_view out) {
    if (!valid_utf8(out)) return std::nullopt;
    return plain_u64(trim_white_space(out));
}

std::optional<uint64_t> sysctl_u64(const char* key) {
    std::optional<std::string> out = platform::sysctl_command_output(key);
    if (!out) return std::nullopt;
    return parse_sysctl_output(*out);
}

// ---- the records -----------------------------------------------------------------------

namespace {

struct TargetFacts {
    CpuArch arch;
    bool avx2, avx512, fma, neon, sve;
    std::string name;
    CpuVendor vendor;
};

TargetFacts target_facts() {
#if defined(__aarch64__)
    return {CpuArch::Aarch64, false, false, false, true, false, "Apple Silicon", CpuVendor::Apple};
#elif defined(__x86_64__) || defined(__i386__)
    platform::CpuidFacts f = platform::read_cpuid();
    CpuVendor vendor = f.vendor == "GenuineIntel"   ? CpuVendor::Intel
                       : f.vendor == "AuthenticAMD" ? CpuVendor::Amd
                                                    : CpuVendor::Unknown;
#if defined(__x86_64__)
    const CpuArch arch = CpuArch::X86_64;
#else
    const CpuArch arch = CpuArch::X86;
#endif
    return {arch, f.avx2, f.avx512, f.fma, false, false,
            f.brand.empty() ? std::string("Unknown") : f.brand, vendor};
#else
    return {CpuArch::Other, false, false, false, false, false, "Unknown", CpuVendor::Unknown};
#endif
}

const TargetFacts& cached_target_facts() {
    static const TargetFacts facts = target_facts();
    return facts;
}

bool rocm_present() {
    struct stat st;
    if (stat("/opt/rocm/lib/libamdhip64.so", &st) == 0) return true;
    return env_text("ROCM_PATH").has_value();
}

}  // namespace

const SystemCapabilities& detect_system_capabilities() {
    static const SystemCapabilities caps = [] {
        std::optional<uint64_t> l1 = sysctl_u64("hw.l1dcachesize");
        std::optional<uint64_t> l2 = sysctl_u64("hw.l2cachesize");
        std::optional<uint64_t> l3 = sysctl_u64("hw.l3cachesize");
        const uint64_t cores = configured_processor_count();
        const uint64_t physical = physical_core_count();
        const bool metal = platform::metal_device() != nullptr;
        const bool rocm = rocm_present();
        const TargetFacts& t = cached_target_facts();
        return SystemCapabilities{cores,  physical, l1.value_or(32768), l2.value_or(524288),
                                  l3.value_or(16777216), t.arch, t.avx2, t.avx512, t.fma,
                                  t.neon, t.sve, metal, false, rocm};
    }();
    return caps;
}

const CpuInfo& detect_cpu_info() {
    static const CpuInfo info = [] {
        const uint64_t logical = configured_processor_count();
        const uint64_t physical = physical_core_count();
        const TargetFacts& t = cached_target_facts();
        return CpuInfo{t.name, logical > physical, t.vendor};
    }();
    return info;
}

const char* best_simd_text(const SystemCapabilities& c) {
    if (c.has_avx512) return "AVX-512";
    if (c.has_avx2 && c.has_fma) return "AVX2+FMA";
    if (c.has_sve) return "SVE";
    if (c.has_neon) return "NEON";
    return "Scalar";
}

const char* best_gpu_text(const SystemCapabilities& c) {
    if (c.metal_available) return "Metal";
    if (c.cuda_available) return "CUDA";
    if (c.rocm_available) return "ROCm";
    return nullptr;
}

std::string capabilities_summary(const SystemCapabilities& c) {
    const char* gpu = best_gpu_text(c);
    return std::string("CPU: ") + arch_text(c.arch) + " (" + std::to_string(c.cores) + " cores, " +
           std::to_string(c.l2_cache) + " L2 Cache, SIMD: " + best_simd_text(c) +
           "), GPU: " + (gpu ? gpu : "None");
}

}  // namespace tessra::hw
