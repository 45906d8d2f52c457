#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "scheduler/pool.hpp"
#include "util/panic.hpp"

using namespace tessra;

namespace {

struct Piece {
    size_t begin, end;
    std::thread::id thread;
};

std::vector<Piece> pieces_of(size_t n, size_t grain) {
    std::mutex m;
    std::vector<Piece> seen;
    pool::parallel_for(n, grain, [&](size_t b, size_t e) {
        std::lock_guard lock(m);
        seen.push_back({b, e, std::this_thread::get_id()});
    });
    return seen;
}

}  // namespace

class PoolPieces : public ::testing::TestWithParam<std::pair<size_t, size_t>> {};

TEST_P(PoolPieces, CoverTheRangeOnceInWholeGrains) {
    const auto [n, grain] = GetParam();
    const size_t g = grain == 0 ? 1 : grain;
    std::vector<int> hits(n);
    for (const Piece& p : pieces_of(n, grain)) {
        EXPECT_EQ(p.begin % g, 0u);
        EXPECT_EQ(p.end, std::min(n, p.begin + g));
        for (size_t i = p.begin; i < p.end; ++i) ++hits[i];
    }
    EXPECT_EQ(hits, std::vector<int>(n, 1));
}

INSTANTIATE_TEST_SUITE_P(Ranges, PoolPieces,
                         ::testing::Values(std::pair<size_t, size_t>{0, 4}, std::pair{3, 4},
                                           std::pair{4, 4}, std::pair{9, 4}, std::pair{5, 0},
                                           std::pair{100000, 1}, std::pair{1 << 20, 1000}));

TEST(Pool, OnePieceRunsOnTheCallingThread) {
    const auto seen = pieces_of(10, 10);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].thread, std::this_thread::get_id());
}

TEST(Pool, APanicInAPieceReachesTheCallerAfterAllPiecesEnded) {
    std::atomic<int> running{0};
    try {
        pool::parallel_for(64, 1, [&](size_t b, size_t) {
            ++running;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            --running;
            if (b == 5) panic("piece five");
        });
        FAIL() << "no panic";
    } catch (const Panic& p) {
        EXPECT_STREQ(p.what(), "piece five");
    }
    EXPECT_EQ(running.load(), 0);
}

TEST(Pool, GrainForCutsOnePiecePerThreadAndSaturates) {
    const size_t t = pool::thread_count();
    for (size_t n : {size_t{1}, t, t + 1, 1000 * t + 7})
        EXPECT_EQ(pool::grain_for(n, 1, 1), (n + t - 1) / t) << n;
    EXPECT_EQ(pool::grain_for(100, 1, 1000), 1000u);
    EXPECT_EQ(pool::grain_for(SIZE_MAX, SIZE_MAX, 1), 1u);
    EXPECT_EQ(pool::grain_for(5, SIZE_MAX, 1), 1u);
}
