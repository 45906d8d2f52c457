#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "backend/cpu_backend.hpp"
#include "backend/metal_runners.hpp"
#include "matmul/matmul_pool.hpp"
#include "platform/metal.hpp"
#include "util/panic.hpp"

using namespace tessra;
using namespace tessra::backend;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

template <class R>
std::string shown(const R& s) {
    return s ? "ok" : backend_error_message(s.error());
}

// The back-end's own reductions and checks, which no module function reaches (the raw-address
// functions test addresses and counts before they call it).
TEST(CpuBackend, ChecksThenMaxNumMinNum) {
    const CpuBackend& cpu = cpu_backend();
    float x = 1.0f;
    EXPECT_EQ(shown(cpu.add_f32(&x, &x, &x, 0)), "ok");
    EXPECT_EQ(shown(cpu.add_f32(&x, nullptr, &x, 0)), "Invalid input: Null pointer");
    EXPECT_EQ(shown(cpu.sum_f32(nullptr, 0)), "Invalid input: Null pointer");
    EXPECT_EQ(shown(cpu.mean_f32(&x, 0)), "Invalid input: Empty array");
    EXPECT_EQ(shown(cpu.max_f32(&x, 0)), "Invalid input: Empty array");
    EXPECT_EQ(shown(cpu.matmul_f32(&x, nullptr, &x, 1, 1, 1)), "Invalid input: Null pointer");
    auto max = [&](std::vector<float> v) { return cpu.max_f32(v.data(), v.size()).value(); };
    auto min = [&](std::vector<float> v) { return cpu.min_f32(v.data(), v.size()).value(); };
    EXPECT_EQ(max({kNaN, 1.0f}), 1.0f);
    EXPECT_EQ(max({kNaN, kNaN}), -kInf);
    EXPECT_EQ(min({kNaN, kNaN}), kInf);
    EXPECT_TRUE(std::signbit(min({+0.0f, -0.0f})) && std::signbit(min({-0.0f, +0.0f})));
    EXPECT_FALSE(std::signbit(max({-0.0f, +0.0f})) || std::signbit(max({+0.0f, -0.0f})));
    // Long enough for the lanes, with the extreme and NaNs in every position class.
    std::vector<float> v(37);
    for (size_t i = 0; i < v.size(); ++i) v[i] = (i % 5 == 0) ? kNaN : float(i % 11) - 5.0f;
    v[33] = 9.0f;
    v[18] = -9.0f;
    EXPECT_EQ(max(v), 9.0f);
    EXPECT_EQ(min(v), -9.0f);
}

// ---- the product pool ---------------------------------------------------------------------

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
            // The kernel may list a joined thread for a moment after the join returns.
            for (int i = 0; i < 2000 && thread_names("").size() != before; ++i) usleep(1000);
            if (thread_names("").size() != before || matmul_pool_size() != 0) _exit(3);
            run_on_matmul_pool(kThreads, 1, [](size_t) {});
            _exit(thread_names("tessra-mm-") == whole ? 0 : 4);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0) << mib << " MiB";  // exit status n is shown as n << 8
    }
}

// ---- the software Metal device: the dispatch shapes the results do not show ----------------

TEST(MetalRunners, GridsAndThreadgroups) {
    setenv("TESSRA_METAL_EMULATION", "1", 1);
    if (!platform::metal_device()) GTEST_SKIP() << "device cell already settled without emulation";
    for (auto [count, group] : {std::pair<uint64_t, uint64_t>{100, 100}, {1000, 256}}) {
        std::vector<float> a(count, 1.5f), b(count, 2.0f), out(count);
        ASSERT_TRUE(run_metal_binary_kernel("sub_f32", a.data(), b.data(), out.data(), count));
        const platform::MetalDispatchRecord r = platform::last_metal_dispatch();
        EXPECT_EQ(r.grid.width, count);
        EXPECT_EQ(r.threads_per_group.width, group);
    }
    float x = 1.0f;
    EXPECT_FALSE(run_metal_binary_kernel("pow_f32", &x, &x, &x, 1));
    std::vector<float> a(6, 1.0f), b(10, 1.0f), c(15);
    ASSERT_TRUE(run_metal_matmul_kernel(a.data(), b.data(), c.data(), 3, 2, 5));
    const platform::MetalDispatchRecord r = platform::last_metal_dispatch();
    EXPECT_EQ(r.kernel, "matmul_f32");
    EXPECT_EQ((std::vector<uint64_t>{r.grid.width, r.grid.height, r.threads_per_group.width,
                                     r.threads_per_group.height}),
              (std::vector<uint64_t>{5, 3, 8, 8}));
}

}  // namespace
