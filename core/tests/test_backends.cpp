#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "backend/cpu_backend.hpp"
#include "backend/metal_backend.hpp"
#include "backend/metal_runners.hpp"
#include "backend/policy.hpp"
#include "backend/select.hpp"
#include "matmul/matmul_parallel.hpp"
#include "matmul/matmul_pool.hpp"
#include "platform/metal.hpp"
#include "util/panic.hpp"

using namespace tessra;
using namespace tessra::backend;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

std::string shown(const BackendStatus& s) { return s ? "ok" : backend_error_message(s.error()); }
template <class T>
std::string shown(const BackendResult<T>& s) { return s ? "ok" : backend_error_message(s.error()); }

TEST(CpuBackend, AddressCheckComesBeforeCount) {
    const CpuBackend& cpu = cpu_backend();
    float x = 1.0f;
    EXPECT_EQ(shown(cpu.add_f32(&x, &x, &x, 0)), "ok");
    EXPECT_EQ(shown(cpu.add_f32(&x, nullptr, &x, 0)), "Invalid input: Null pointer");
    EXPECT_EQ(shown(cpu.div_f32(&x, &x, nullptr, 1)), "Invalid input: Null pointer");
    EXPECT_EQ(shown(cpu.sum_f32(nullptr, 0)), "Invalid input: Null pointer");
    EXPECT_EQ(shown(cpu.mean_f32(&x, 0)), "Invalid input: Empty array");
    EXPECT_EQ(shown(cpu.max_f32(&x, 0)), "Invalid input: Empty array");
    EXPECT_EQ(shown(cpu.matmul_f32(&x, nullptr, &x, 1, 1, 1)), "Invalid input: Null pointer");
}

// Overlapping buffers give what the element-by-element loop in index order gives.
TEST(CpuBackend, ElementwiseMatchesTheIndexOrderLoopUnderOverlap) {
    for (int shift : {-17, -16, -3, -1, 0, 1, 3, 15, 16, 17}) {
        std::vector<float> buf(200), ref;
        for (size_t i = 0; i < buf.size(); ++i) buf[i] = float(i) * 0.5f + 1.0f;
        ref = buf;
        const size_t base = 40, count = 100;
        const float* a = buf.data() + base;
        float* out = buf.data() + base + shift;
        std::vector<float> b(count, 2.0f);
        ASSERT_TRUE(cpu_backend().mul_f32(a, b.data(), out, count));
        for (size_t i = 0; i < count; ++i) ref[base + shift + i] = ref[base + i] * 2.0f;
        EXPECT_EQ(buf, ref) << "shift " << shift;
    }
}

TEST(CpuBackend, MaxMinFollowMaxNumMinNum) {
    const CpuBackend& cpu = cpu_backend();
    auto max = [&](std::vector<float> v) { return cpu.max_f32(v.data(), v.size()).value(); };
    auto min = [&](std::vector<float> v) { return cpu.min_f32(v.data(), v.size()).value(); };
    EXPECT_EQ(max({kNaN, 1.0f}), 1.0f);
    EXPECT_EQ(max({kNaN, kNaN}), -kInf);
    EXPECT_EQ(min({kNaN, kNaN}), kInf);
    EXPECT_TRUE(std::signbit(min({+0.0f, -0.0f})));
    EXPECT_TRUE(std::signbit(min({-0.0f, +0.0f})));
    EXPECT_FALSE(std::signbit(max({-0.0f, +0.0f})));
    EXPECT_FALSE(std::signbit(max({+0.0f, -0.0f})));
    // Long enough for the lanes, with the extreme and NaNs in every position class.
    std::vector<float> v(37);
    for (size_t i = 0; i < v.size(); ++i) v[i] = (i % 5 == 0) ? kNaN : float(i % 11) - 5.0f;
    v[33] = 9.0f;
    v[18] = -9.0f;
    EXPECT_EQ(max(v), 9.0f);
    EXPECT_EQ(min(v), -9.0f);
}

TEST(CpuBackend, SumIsSequentialBelowAMillionAndCompensatedFrom) {
    const CpuBackend& cpu = cpu_backend();
    std::vector<float> v(1'000'000, 0.1f);
    float plain = 0.0f;
    for (size_t i = 0; i < 999'999; ++i) plain += v[i];
    EXPECT_EQ(cpu.sum_f32(v.data(), 999'999).value(), plain);
    const float chunked = cpu.sum_f32(v.data(), v.size()).value();
    EXPECT_NEAR(chunked, 100000.0f, 1.0f);
    EXPECT_GT(std::fabs(plain - 100000.0f), 100.0f);  // so the two roads are told apart
    EXPECT_EQ(cpu.mean_f32(v.data(), 4).value(), (0.1f + 0.1f + 0.1f + 0.1f) / 4.0f);
}

TEST(Selection, DefaultPolicyStaysOnCpuWithoutMetal) {
    if (platform::metal_device()) GTEST_SKIP() << "this process has a Metal device";
    set_backend_policy(0);
    EXPECT_EQ(select_backend({100'000'001, 0, false}).kind(), DispatchBackend::Neon);
    set_backend_policy(4);
    EXPECT_EQ(select_backend({1, 0, false}).kind(), DispatchBackend::Neon);
    set_backend_policy(0);
}

TEST(Matmul, ProductsThatDoNotFitCblasAreRefusedUntouched) {
    set_backend_policy(1);
    const LastDispatch before = last_dispatch();
    float never = 0.0f;  // the sizes are refused before any element is read
    const uint64_t big = uint64_t{1} << 31;
    for (auto [m, k, n] : {std::array<uint64_t, 3>{big, 1, 1}, {1, big, 1}, {1, 1, big}})
        EXPECT_EQ(shown(cpu_backend().matmul_f32(&never, &never, &never, m, k, n)),
                  "Invalid input: Matrix dimensions exceed the 32-bit range of CBLAS");
    const LastDispatch& after = last_dispatch();
    EXPECT_TRUE(after.m == before.m && after.k == before.k && after.n == before.n);
    set_backend_policy(0);
}

TEST(MatmulParallel, RowJobsOfAtLeast32Rows) {
    EXPECT_EQ(matmul_rows_per_job(33, 4), 32u);
    EXPECT_EQ(matmul_rows_per_job(1000, 8), 125u);
    EXPECT_EQ(matmul_rows_per_job(100, 8), 32u);
}

TEST(MatmulParallel, SplitProductAgreesWithTheNaiveOneAndNamesItsThreads) {
    const uint64_t m = 33, k = 300, n = 40;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> d(-1, 1);
    std::vector<float> a(m * k), b(k * n), c(m * n, -1.0f);
    for (float& x : a) x = d(rng);
    for (float& x : b) x = d(rng);
    matmul_parallel(a.data(), b.data(), c.data(), m, k, n, 4);
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j) {
            double s = 0;
            for (uint64_t p = 0; p < k; ++p) s += double(a[i * k + p]) * b[p * n + j];
            ASSERT_NEAR(c[i * n + j], s, 1e-4) << i << "," << j;
        }
    EXPECT_EQ(matmul_pool_size(), 4u);
    // Later calls with other counts keep the pool's size.
    matmul_parallel(a.data(), b.data(), c.data(), m, k, n, 7);
    EXPECT_EQ(matmul_pool_size(), 4u);
}

TEST(MatmulPool, TaskFailureIsRaisedAfterAllTasksEnd) {
    std::atomic<int> ran{0};
    EXPECT_THROW(run_on_matmul_pool(2, 8,
                                    [&](size_t i) {
                                        ++ran;
                                        if (i == 3) throw std::runtime_error("boom");
                                    }),
                 std::runtime_error);
    EXPECT_EQ(ran.load(), 8);
}

// Names of this process's threads that start with `prefix`.
std::multiset<std::string> thread_names(const std::string& prefix) {
    std::multiset<std::string> names;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        if (name.rfind(prefix, 0) == 0) names.insert(name);
    }
    return names;
}

uint64_t address_space_used() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
    return 0;
}

// Under an address-space limit with room for a few workers' stacks at most (more threads than
// the C library keeps stacks for): a pool that cannot start leaves no thread and no pool behind,
// and the next call makes a whole, correctly named one. In a child, so the limit stays there.
TEST(MatmulPool, AFailedStartLeavesNothingAndALaterCallMakesAWholePool) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit stops the sanitizer itself";
#endif
    constexpr int kThreads = 16;
    std::multiset<std::string> whole;
    for (int i = 0; i < kThreads; ++i) whole.insert("tessra-mm-" + std::to_string(i));
    for (uint64_t mib = 2; mib <= 34; mib += 8) {
        const pid_t pid = fork();
        if (pid == 0) {
            freopen("/dev/null", "w", stderr);  // the panic is expected
            const size_t before = thread_names("").size();
            rlimit limit{address_space_used() + (mib << 20), RLIM_INFINITY};
            setrlimit(RLIMIT_AS, &limit);
            try {
                run_on_matmul_pool(kThreads, 1, [](size_t) {});
                _exit(1);
            } catch (const Panic& p) {
                if (std::string(p.what()) != "[tessra] Failed to build Rayon ThreadPool for matmul")
                    _exit(2);
            }
            limit.rlim_cur = RLIM_INFINITY;
            setrlimit(RLIMIT_AS, &limit);
            if (thread_names("").size() != before || matmul_pool_size() != 0) _exit(3);
            run_on_matmul_pool(kThreads, 1, [](size_t) {});
            _exit(thread_names("tessra-mm-") == whole ? 0 : 4);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0) << mib << " MiB";  // exit status n is shown as n << 8
    }
}

// ---- the software Metal device through the runners ---------------------------------------

class MetalRunners : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TESSRA_METAL_EMULATION", "1", 1);
        if (!platform::metal_device())
            GTEST_SKIP() << "device cell already settled without emulation";
    }
};

TEST_F(MetalRunners, BinaryKernelThreadgroups) {
    for (auto [count, group] : {std::pair<uint64_t, uint64_t>{100, 100}, {1000, 256}}) {
        std::vector<float> a(count, 1.5f), b(count, 2.0f), out(count);
        ASSERT_TRUE(run_metal_binary_kernel("sub_f32", a.data(), b.data(), out.data(), count));
        EXPECT_EQ(out, std::vector<float>(count, -0.5f));
        const platform::MetalDispatchRecord r = platform::last_metal_dispatch();
        EXPECT_EQ(r.grid.width, count);
        EXPECT_EQ(r.threads_per_group.width, group);
    }
    float x = 1.0f;
    EXPECT_TRUE(run_metal_binary_kernel("add_f32", &x, &x, &x, 0));
    EXPECT_EQ(x, 1.0f);
    EXPECT_FALSE(run_metal_binary_kernel("pow_f32", &x, &x, &x, 1));
}

TEST_F(MetalRunners, ReduceKeepsALeadingNaNAndSkipsLaterOnes) {
    auto run = [](const char* k, std::vector<float> v) {
        float r = -7.0f;
        EXPECT_TRUE(run_metal_reduce_kernel(k, v.data(), v.size(), &r));
        return r;
    };
    EXPECT_TRUE(std::isnan(run("max_f32", {kNaN, 1.0f, 2.0f})));
    EXPECT_EQ(run("max_f32", {1.0f, kNaN, 2.0f}), 2.0f);
    EXPECT_EQ(run("min_f32", {1.0f, kNaN, -2.0f}), -2.0f);
    EXPECT_EQ(run("sum_f32", {1.0f, 2.0f, 3.5f}), 6.5f);
    EXPECT_EQ(run("sum_f32", {}), 0.0f);
}

TEST_F(MetalRunners, MatmulGridAndBoundsTest) {
    const uint64_t m = 3, k = 2, n = 5;
    std::vector<float> a = {1, 2, 3, 4, 5, 6}, b(k * n), c(m * n, -1.0f);
    for (size_t i = 0; i < b.size(); ++i) b[i] = float(i);
    ASSERT_TRUE(run_metal_matmul_kernel(a.data(), b.data(), c.data(), m, k, n));
    const platform::MetalDispatchRecord r = platform::last_metal_dispatch();
    EXPECT_EQ(r.kernel, "matmul_f32");
    EXPECT_EQ(r.grid.width, n);
    EXPECT_EQ(r.grid.height, m);
    EXPECT_EQ(r.threads_per_group.width, 8u);
    EXPECT_EQ(r.threads_per_group.height, 8u);
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n; ++j)
            EXPECT_EQ(c[i * n + j], a[i * k] * b[j] + a[i * k + 1] * b[n + j]);
}

TEST_F(MetalRunners, BackendWrapsRunnersAndSelectionPicksIt) {
    const MetalBackend* metal = metal_backend();
    ASSERT_NE(metal, nullptr);
    std::vector<float> v = {2.0f, 4.0f};
    EXPECT_EQ(metal->mean_f32(v.data(), 2).value(), 3.0f);
    EXPECT_TRUE(metal->is_available());
    EXPECT_FALSE(metal->supports_dtype(DType::Float64));
    set_backend_policy(0);
    EXPECT_EQ(select_backend({100'000'000, 0, false}).kind(), DispatchBackend::Neon);
    EXPECT_EQ(select_backend({100'000'001, 0, false}).kind(), DispatchBackend::Metal);
    set_backend_policy(4);
    EXPECT_EQ(select_backend({1, 0, false}).kind(), DispatchBackend::Metal);
    set_backend_policy(5);
    EXPECT_EQ(select_backend({uint64_t(1) << 40, 0, false}).kind(), DispatchBackend::Neon);
    set_backend_policy(0);
}

}  // namespace
