#include "hardware/capabilities.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/cpuid.hpp"
#include "ops/metal.hpp"
#include "platform/sysctl.hpp"
#include "hardware/env_text.hpp"
#include "util/utf8.hpp"

extern char** environ;

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

// ---- sysctl child process --------------------------------------------------------------

namespace {

// Runs `sysctl -n key` with empty input; its standard output, or nothing when it cannot start.
std::optional<std::string> run_sysctl(const char* key) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return std::nullopt;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    char prog[] = "sysctl", flag[] = "-n";
    std::string k(key);
    char* argv[] = {prog, flag, k.data(), nullptr};
    pid_t pid;
    int rc = posix_spawnp(&pid, "sysctl", &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        return std::nullopt;
    }
    // Drain both pipes so a chatty child never blocks on a full one.
    std::string text;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_fds = 2;
    char buf[4096];
    while (open_fds > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                if (i == 0) text.append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) close(p.fd);
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return text;
}

}  // namespace

std::optional<uint64_t> parse_sysctl_output(std::string_view out) {
    if (!valid_utf8(out)) return std::nullopt;
    out = trim_white_space(out);
    if (!out.empty() && out.front() == '+') out.remove_prefix(1);
    if (out.empty()) return std::nullopt;
    uint64_t v = 0;
    for (char ch : out) {
        if (ch < '0' || ch > '9') return std::nullopt;
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, uint64_t(ch - '0'), &v))
            return std::nullopt;
    }
    return v;
}

std::optional<uint64_t> sysctl_u64(const char* key) {
    std::optional<std::string> out = run_sysctl(key);
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
        const bool metal = metal::device() != nullptr;
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
