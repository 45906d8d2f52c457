#include "hardware/math_backend.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <initializer_list>

#include "hardware/env_text.hpp"

namespace tessra::hw {

const char* math_backend_text(MathBackend b) {
    switch (b) {
        case MathBackend::MKL: return "MKL";
        case MathBackend::AOCL: return "AOCL";
        case MathBackend::Accelerate: return "Accelerate";
        case MathBackend::OpenBLAS: return "OpenBLAS";
        case MathBackend::RustParallel: break;
    }
    return "RustParallel";
}

namespace {

using Paths = std::initializer_list<const char*>;

constexpr Paths kMklRootPaths = {"lib/intel64/libmkl_rt.so", "lib/libmkl_rt.so",
                                 "lib/libmkl_rt.dylib"};
constexpr Paths kMklPrefixPaths = {
    "lib/libmkl_rt.so", "lib/libmkl_rt.so.2", "lib/libmkl_rt.so.1", "lib/libmkl_core.so",
    "lib/python3.12/site-packages/mkl/lib/libmkl_rt.so",
    "lib/python3.11/site-packages/mkl/lib/libmkl_rt.so",
    "lib/python3.10/site-packages/mkl/lib/libmkl_rt.so"};
constexpr Paths kMklPaths = {"/opt/intel/oneapi/mkl/latest/lib/intel64/libmkl_rt.so",
                             "/opt/intel/mkl/lib/intel64/libmkl_rt.so",
                             "/usr/lib/x86_64-linux-gnu/libmkl_rt.so",
                             "/usr/lib/x86_64-linux-gnu/libmkl_rt.so.2",
                             "/usr/local/lib/libmkl_rt.so",
                             "/opt/intel/oneapi/mkl/latest/lib/libmkl_rt.dylib",
                             "/usr/local/lib/libmkl_rt.dylib"};
constexpr Paths kAoclPaths = {"/opt/aocl/lib/libblis-mt.so",
                              "/opt/amd/aocl/aocl-linux-gcc/lib/libblis-mt.so",
                              "/usr/lib/x86_64-linux-gnu/libblis-mt.so",
                              "/usr/local/lib/libblis-mt.so", "/usr/lib/libblis.so"};
constexpr Paths kOpenblasPaths = {"/usr/lib/x86_64-linux-gnu/libopenblas.so.0",
                                  "/usr/lib/x86_64-linux-gnu/libopenblas.so",
                                  "/usr/lib/aarch64-linux-gnu/libopenblas.so.0",
                                  "/usr/lib/aarch64-linux-gnu/libopenblas.so",
                                  "/usr/lib/libopenblas.so",
                                  "/usr/local/lib/libopenblas.so",
                                  "/opt/homebrew/lib/libopenblas.dylib",
                                  "/usr/local/lib/libopenblas.dylib",
                                  "/opt/conda/lib/libopenblas.so"};

const char kArrow[] = " \xE2\x86\x92 ";  // " → "
const char kDash[] = " \xE2\x80\x94 ";   // " — "
const char kHint[] = "         ";

std::optional<MathBackend> override_choice(const std::string& lower) {
    struct Alias {
        const char* name;
        MathBackend lib;
    };
    static constexpr Alias kAliases[] = {
        {"mkl", MathBackend::MKL},           {"intel", MathBackend::MKL},
        {"intel-mkl", MathBackend::MKL},     {"aocl", MathBackend::AOCL},
        {"amd", MathBackend::AOCL},          {"blis", MathBackend::AOCL},
        {"accelerate", MathBackend::Accelerate}, {"apple", MathBackend::Accelerate},
        {"veclib", MathBackend::Accelerate}, {"openblas", MathBackend::OpenBLAS},
        {"open-blas", MathBackend::OpenBLAS}, {"blas", MathBackend::OpenBLAS},
        {"rust", MathBackend::RustParallel}, {"rustparallel", MathBackend::RustParallel},
        {"pure-rust", MathBackend::RustParallel},
    };
    for (const Alias& a : kAliases)
        if (lower == a.name) return a.lib;
    return std::nullopt;
}

// Unicode lower case of the accepted names is plain ASCII lower case: only ASCII can match.
std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

struct Search {
    const DiscoveryProbe& probe;

    // Relative paths are joined to `root` with one '/' even when the root is empty, so an empty
    // variable never makes a path relative to the working directory.
    std::optional<std::string> first_existing(Paths paths,
                                              const std::optional<std::string>& root = {}) const {
        for (const char* p : paths) {
            std::string path = root ? *root + "/" + p : std::string(p);
            if (probe.exists(path)) return path;
        }
        return std::nullopt;
    }

    std::optional<std::string> mkl() const {
        if (auto root = probe.env("MKLROOT"))
            if (auto p = first_existing(kMklRootPaths, root)) return p;
        if (auto ld = probe.env("LD_LIBRARY_PATH")) {
            size_t start = 0;
            while (true) {
                size_t colon = ld->find(':', start);
                std::string path = ld->substr(start, colon - start) + "/libmkl_rt.so";
                if (probe.exists(path)) return path;
                if (colon == std::string::npos) break;
                start = colon + 1;
            }
        }
        for (const char* var : {"VIRTUAL_ENV", "CONDA_PREFIX"})
            if (auto prefix = probe.env(var))
                if (auto p = first_existing(kMklPrefixPaths, prefix)) return p;
        return first_existing(kMklPaths);
    }

    std::optional<std::string> aocl() const {
        if (auto root = probe.env("AOCL_ROOT")) {
            std::string path = *root + "/lib/libblis-mt.so";
            if (probe.exists(path)) return path;
        }
        return first_existing(kAoclPaths);
    }

    std::optional<std::string> openblas() const {
        if (auto path = probe.env("OPENBLAS_PATH"))
            if (probe.exists(*path)) return path;
        return first_existing(kOpenblasPaths);
    }
};

}  // namespace

MathBackend discover_math_backend(const DiscoveryProbe& probe) {
    const auto say = [&](const std::string& line) { probe.print_line(line); };
    if (auto raw = probe.env("TESSRA_BACKEND")) {
        std::string trimmed(trim_white_space(*raw));
        if (auto lib = override_choice(ascii_lower(trimmed))) {
            say(std::string("[tessra] TESSRA_BACKEND override") + kArrow + math_backend_text(*lib));
            return *lib;
        }
        say("[tessra] Unknown TESSRA_BACKEND='" + trimmed + "'; using auto-detection.");
    }
    const CpuVendor vendor = probe.vendor();
    say(std::string("[tessra] CPU vendor detected: ") + vendor_display_text(vendor));
    const Search search{probe};
    switch (vendor) {
        case CpuVendor::Apple:
            say(std::string("[tessra] Apple Silicon") + kArrow + "using Accelerate (AMX)");
            return MathBackend::Accelerate;
        case CpuVendor::Intel:
            if (auto p = search.mkl()) {
                say("[tessra] Intel CPU + MKL found at " + *p + kArrow + "using MKL");
                return MathBackend::MKL;
            }
            say(std::string("[tessra] Intel CPU detected but MKL not found") + kDash + "install with:");
            say(std::string(kHint) + "pip install mkl  OR  apt install intel-mkl");
            say("[tessra] Falling back to OpenBLAS for now.");
            break;
        case CpuVendor::Amd:
            if (auto p = search.aocl()) {
                say("[tessra] AMD CPU + AOCL found at " + *p + kArrow + "using AOCL");
                return MathBackend::AOCL;
            }
            say(std::string("[tessra] AMD CPU detected but AOCL not found") + kDash + "install from:");
            say(std::string(kHint) + "https://www.amd.com/en/developer/aocl.html");
            say("[tessra] Falling back to OpenBLAS for now.");
            break;
        case CpuVendor::Unknown:
            break;
    }
    if (auto p = search.openblas()) {
        say("[tessra] OpenBLAS found at " + *p + kArrow + "using OpenBLAS");
        return MathBackend::OpenBLAS;
    }
    say(std::string("[tessra] No BLAS library found") + kDash + "using pure-Rust fallback.");
    say(std::string(kHint) + "Install OpenBLAS for better performance:");
    say(std::string(kHint) + "Ubuntu: sudo apt install libopenblas-dev");
    return MathBackend::RustParallel;
}

MathBackend detect_math_backend() {
    static const MathBackend chosen = discover_math_backend(DiscoveryProbe{
        env_text,
        [](const std::string& path) {
            struct stat st;
            return stat(path.c_str(), &st) == 0;
        },
        [] { return detect_cpu_info().vendor; },
        [](const std::string& line) {
            std::string whole = line + "\n";
            const char* p = whole.data();
            size_t left = whole.size();
            while (left > 0) {
                ssize_t n = write(STDERR_FILENO, p, left);
                if (n <= 0) break;
                p += n;
                left -= static_cast<size_t>(n);
            }
        },
    });
    return chosen;
}

// ---- thread counts -----------------------------------------------------------------------

uint64_t blas_thread_count_for(uint64_t n, MathBackend lib, const ThreadHost& host) {
    const uint64_t P = host.physical;
    const uint64_t half = std::max<uint64_t>(P / 2, 1);
    const int band = n < 256 ? 0 : n < 512 ? 1 : n < 1024 ? 2 : n < 2048 ? 3 : n < 4096 ? 4 : 5;
    uint64_t t = 1;
    switch (lib) {
        case MathBackend::MKL:
        case MathBackend::AOCL: {
            const uint64_t row[] = {1, half, half, P, P, P};
            t = row[band];
            break;
        }
        case MathBackend::Accelerate: t = 1; break;
        case MathBackend::OpenBLAS: {
            const uint64_t row[] = {1, 1, 1, half, P, host.hyperthread ? host.logical : P};
            t = row[band];
            break;
        }
        case MathBackend::RustParallel: {
            const uint64_t row[] = {1, std::min<uint64_t>(P, 2), half, half, P, P};
            t = row[band];
            break;
        }
    }
    if (P < 3) t = std::min(P, t);
    if (lib == MathBackend::MKL && host.vendor == CpuVendor::Intel)
        t = std::min(std::max(P / 2, t), P);
    if (lib == MathBackend::OpenBLAS && host.vendor == CpuVendor::Amd && t >= 3)
        t = static_cast<uint64_t>(std::round(static_cast<double>(t) * 0.75));
    return std::max<uint64_t>(t, 1);
}

uint64_t blas_thread_count(uint64_t n, MathBackend lib) {
    const CpuInfo& info = detect_cpu_info();
    return blas_thread_count_for(
        n, lib, {init_physical_core_count(), configured_processor_count(), info.vendor, info.hyperthread});
}

void set_env_default(const char* name, const char* value) {
    if (env_text(name)) return;
    setenv(name, value, 1);
}

void ThreadVariables::configure(MathBackend lib, uint64_t threads) {
    const std::string text = std::to_string(threads);
    const char* v = text.c_str();
    std::call_once(omp_, [&] { set_env_default("OMP_NUM_THREADS", v); });
    switch (lib) {
        case MathBackend::MKL:
            std::call_once(mkl_, [&] {
                set_env_default("MKL_NUM_THREADS", v);
                set_env_default("MKL_DYNAMIC", "FALSE");
                set_env_default("MKL_THREADING_LAYER", "INTEL");
            });
            break;
        case MathBackend::AOCL:
            std::call_once(aocl_, [&] { set_env_default("BLIS_NUM_THREADS", v); });
            break;
        case MathBackend::OpenBLAS:
            std::call_once(openblas_, [&] {
                set_env_default("OPENBLAS_NUM_THREADS", v);
                set_env_default("OPENBLAS_VERBOSE", "0");
            });
            break;
        case MathBackend::RustParallel:
            std::call_once(rust_, [&] { set_env_default("RAYON_NUM_THREADS", v); });
            break;
        case MathBackend::Accelerate:
            break;
    }
}

void configure_blas_threads(MathBackend lib, uint64_t threads) {
    static ThreadVariables vars;
    vars.configure(lib, threads);
}

}  // namespace tessra::hw
