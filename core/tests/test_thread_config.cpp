#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "hardware/capabilities.hpp"
#include "hardware/math_backend.hpp"

using namespace tessra::hw;

namespace {

constexpr MathBackend kMkl = MathBackend::MKL, kAocl = MathBackend::AOCL,
                      kAcc = MathBackend::Accelerate, kOb = MathBackend::OpenBLAS,
                      kRust = MathBackend::RustParallel;
const CpuVendor U = CpuVendor::Unknown, I = CpuVendor::Intel, A = CpuVendor::Amd;

// The thread count for every band of sizes (< 256, < 512, < 1024, < 2048, < 4096, the rest),
// tried at both ends of each band, on machines no test host has to be.
struct Row {
    MathBackend lib;
    uint64_t P, L;
    CpuVendor vendor;
    bool ht;
    uint64_t expect[6];
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << math_backend_text(r.lib) << " P=" << r.P << " L=" << r.L << " vendor="
        << vendor_debug_text(r.vendor) << (r.ht ? " ht" : "");
}

class ThreadTable : public ::testing::TestWithParam<Row> {};

TEST_P(ThreadTable, EveryBandAtBothEdges) {
    constexpr uint64_t kLow[] = {0, 256, 512, 1024, 2048, 4096};
    constexpr uint64_t kHigh[] = {255, 511, 1023, 2047, 4095, 1 << 20};
    const Row& r = GetParam();
    for (int b = 0; b < 6; ++b)
        for (uint64_t n : {kLow[b], kHigh[b]})
            EXPECT_EQ(blas_thread_count_for(n, r.lib, {r.P, r.L, r.vendor, r.ht}), r.expect[b])
                << n;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ThreadTable,
    ::testing::Values(
        // P = 8, no vendor adjustment
        Row{kMkl, 8, 16, U, true, {1, 4, 4, 8, 8, 8}},
        Row{kAocl, 8, 16, U, true, {1, 4, 4, 8, 8, 8}},
        Row{kAcc, 8, 16, U, true, {1, 1, 1, 1, 1, 1}},
        Row{kOb, 8, 16, U, true, {1, 1, 1, 4, 8, 16}},
        Row{kOb, 8, 16, U, false, {1, 1, 1, 4, 8, 8}},
        Row{kRust, 8, 16, U, false, {1, 2, 4, 4, 8, 8}},
        // MKL on Intel: at least floor(P / 2), at most P
        Row{kMkl, 8, 8, I, false, {4, 4, 4, 8, 8, 8}},
        Row{kMkl, 1, 1, I, false, {1, 1, 1, 1, 1, 1}},
        Row{kAocl, 8, 8, I, false, {1, 4, 4, 8, 8, 8}},
        // OpenBLAS on AMD: t >= 3 scaled by 0.75, halves away from zero (6 -> 5 is 4.5 -> 5)
        Row{kOb, 8, 8, A, false, {1, 1, 1, 3, 6, 6}}, Row{kOb, 6, 12, A, true, {1, 1, 1, 2, 5, 9}},
        Row{kOb, 3, 3, A, false, {1, 1, 1, 1, 2, 2}},
        Row{kRust, 8, 8, A, false, {1, 2, 4, 4, 8, 8}},
        // P < 3 clamps to P; P = 1 is always one thread
        Row{kMkl, 2, 4, U, true, {1, 1, 1, 2, 2, 2}}, Row{kOb, 2, 4, U, true, {1, 1, 1, 1, 2, 2}},
        Row{kRust, 2, 2, U, false, {1, 2, 1, 1, 2, 2}}, Row{kOb, 1, 4, A, true, {1, 1, 1, 1, 1, 1}},
        Row{kRust, 1, 1, U, false, {1, 1, 1, 1, 1, 1}}));

// ---- discovery, on a made-up machine --------------------------------------------------------

struct FakeWorld {
    std::map<std::string, std::string> env;
    std::set<std::string> files;
    CpuVendor vendor = CpuVendor::Unknown;
    std::vector<std::string> lines;
    bool vendor_read = false;

    MathBackend discover() {
        lines.clear();
        return discover_math_backend(DiscoveryProbe{
            [this](const char* n) -> std::optional<std::string> {
                auto it = env.find(n);
                if (it == env.end()) return std::nullopt;
                return it->second;
            },
            [this](const std::string& p) { return files.count(p) > 0; },
            [this] {
                vendor_read = true;
                return vendor;
            },
            [this](const std::string& l) { lines.push_back(l); },
        });
    }
};

using Lines = std::vector<std::string>;

TEST(Discovery, OverrideSpellings) {
    const std::pair<const char*, MathBackend> cases[] = {
        {"mkl", kMkl},       {"Intel", kMkl},        {"INTEL-MKL", kMkl},
        {"aocl", kAocl},     {"amd", kAocl},         {"blis", kAocl},
        {"accelerate", kAcc}, {"apple", kAcc},       {"VECLIB", kAcc},
        {"\xC2\xA0OpenBLAS \n", kOb}, {"open-blas", kOb}, {"blas", kOb},
        {"rust", kRust},     {"RustParallel", kRust}, {"pure-rust", kRust},
    };
    for (auto [text, lib] : cases) {
        FakeWorld w;
        w.env["TESSRA_BACKEND"] = text;
        EXPECT_EQ(w.discover(), lib) << text;
        EXPECT_EQ(w.lines, Lines{std::string("[tessra] TESSRA_BACKEND override → ") +
                                 math_backend_text(lib)});
        EXPECT_FALSE(w.vendor_read);
    }
}

TEST(Discovery, IntelMklSearchOrder) {
    FakeWorld w;
    w.vendor = CpuVendor::Intel;
    w.env = {{"MKLROOT", "/root"}, {"LD_LIBRARY_PATH", "/a:/b:"}, {"VIRTUAL_ENV", "/venv"},
             {"CONDA_PREFIX", "/conda"}};
    w.files = {"/usr/local/lib/libmkl_rt.so"};
    // Each new file is found earlier in the order than the one before.
    std::string expect = "/usr/local/lib/libmkl_rt.so";
    for (const char* found : {"", "/conda/lib/libmkl_rt.so.1",
                              "/venv/lib/python3.10/site-packages/mkl/lib/libmkl_rt.so",
                              "/libmkl_rt.so", "/b/libmkl_rt.so", "/root/lib/libmkl_rt.dylib"}) {
        if (*found) w.files.insert(expect = found);
        EXPECT_EQ(w.discover(), kMkl);
        EXPECT_EQ(w.lines, (Lines{"[tessra] CPU vendor detected: Intel",
                                  "[tessra] Intel CPU + MKL found at " + expect +
                                      " → using MKL"}));
    }
    // An empty prefix is joined like any other: the search tests "/lib/...", never "lib/...".
    w.files = {"lib/libmkl_rt.so", "lib/intel64/libmkl_rt.so", "/lib/libmkl_rt.so"};
    for (const char* var : {"MKLROOT", "VIRTUAL_ENV", "CONDA_PREFIX"}) {
        w.env = {{var, ""}};
        EXPECT_EQ(w.discover(), kMkl) << var;
        EXPECT_EQ(w.lines.back(),
                  "[tessra] Intel CPU + MKL found at /lib/libmkl_rt.so → using MKL");
    }
}

TEST(Discovery, EachVendorAndItsFallbacks) {
    FakeWorld w;
    w.env["TESSRA_BACKEND"] = " Cuda\t";
    w.vendor = CpuVendor::Apple;
    EXPECT_EQ(w.discover(), kAcc);
    EXPECT_EQ(w.lines, (Lines{"[tessra] Unknown TESSRA_BACKEND='Cuda'; using auto-detection.",
                              "[tessra] CPU vendor detected: Apple Silicon",
                              "[tessra] Apple Silicon → using Accelerate (AMX)"}));
    w.env.clear();
    w.vendor = CpuVendor::Intel;
    w.env["OPENBLAS_PATH"] = "/missing/libopenblas.so";
    w.files = {"/opt/conda/lib/libopenblas.so", "/usr/local/lib/libopenblas.so"};
    EXPECT_EQ(w.discover(), kOb);
    EXPECT_EQ(w.lines, (Lines{"[tessra] CPU vendor detected: Intel",
                              "[tessra] Intel CPU detected but MKL not found — install with:",
                              "         pip install mkl  OR  apt install intel-mkl",
                              "[tessra] Falling back to OpenBLAS for now.",
                              "[tessra] OpenBLAS found at /usr/local/lib/libopenblas.so → "
                              "using OpenBLAS"}));
    w.vendor = CpuVendor::Unknown;
    w.files.clear();
    EXPECT_EQ(w.discover(), kRust);
    EXPECT_EQ(w.lines, (Lines{"[tessra] CPU vendor detected: Unknown",
                              "[tessra] No BLAS library found — using pure-Rust fallback.",
                              "         Install OpenBLAS for better performance:",
                              "         Ubuntu: sudo apt install libopenblas-dev"}));
}

TEST(Discovery, AmdAoclRootThenListThenOpenblasPath) {
    FakeWorld w;
    w.vendor = CpuVendor::Amd;
    w.env = {{"AOCL_ROOT", "/aocl"}, {"OPENBLAS_PATH", "/mine/libopenblas.so"}};
    w.files = {"/mine/libopenblas.so", "/usr/lib/x86_64-linux-gnu/libopenblas.so.0"};
    EXPECT_EQ(w.discover(), kOb);
    ASSERT_EQ(w.lines.size(), 5u);
    EXPECT_EQ(w.lines[1], "[tessra] AMD CPU detected but AOCL not found — install from:");
    EXPECT_EQ(w.lines[2].substr(0, 10), "         h");
    EXPECT_EQ(w.lines[4], "[tessra] OpenBLAS found at /mine/libopenblas.so → using OpenBLAS");
    for (const char* found : {"/usr/lib/libblis.so", "/aocl/lib/libblis-mt.so"}) {
        w.files.insert(found);
        EXPECT_EQ(w.discover(), kAocl);
        EXPECT_EQ(w.lines.back(),
                  std::string("[tessra] AMD CPU + AOCL found at ") + found + " → using AOCL");
    }
}

TEST(SysctlOutput, NumberRule) {
    EXPECT_EQ(parse_sysctl_output("\xC2\xA0" "12\xE3\x80\x80"), 12u);  // NBSP and ideographic space
    EXPECT_EQ(parse_sysctl_output("18446744073709551615"), UINT64_MAX);
    for (const char* bad : {"", " \n", "-1", "+", "1\xff", "0x10"})
        EXPECT_EQ(parse_sysctl_output(bad), std::nullopt) << bad;
}

}  // namespace
