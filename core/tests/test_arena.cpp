#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "ops/chunk_sum.hpp"
#include "scheduler/arena.hpp"
#include "util/panic.hpp"

using namespace tessra;

namespace {

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Capacity of the Arena a new thread makes with TESSRA_ARENA_SIZE set to `text` (null: unset).
uint64_t fresh_thread_capacity(const char* text) {
    text ? setenv("TESSRA_ARENA_SIZE", text, 1) : unsetenv("TESSRA_ARENA_SIZE");
    uint64_t capacity = 0;
    std::thread([&] { capacity = with_thread_arena([](Arena& a) { return a.capacity(); }); }).join();
    unsetenv("TESSRA_ARENA_SIZE");
    return capacity;
}

template <class F>
std::string panic_text(F f) {
    try {
        f();
    } catch (const Panic& p) {
        return p.what();
    }
    return "";
}

// Kahan summation as the chunk sum states it.
float kahan(const float* v, size_t n) {
    float s = 0.0f, c = 0.0f;
    for (size_t i = 0; i < n; ++i) {
        float y = v[i] - c, t = s + y;
        c = (t - s) - y;
        s = t;
    }
    return s;
}

// 1.0 at every `every`-th place, else values below half an ulp of 1: a plain sum never moves
// past the ones, a compensated one does.
std::vector<float> drifting(size_t n, size_t every) {
    std::vector<float> v(n, std::ldexp(1.0f, -25));
    for (size_t i = 0; i < n; i += every) v[i] = 1.0f;
    return v;
}

}  // namespace

// The grammar is the one RAYON_NUM_THREADS has (its Python tests); here what each outcome gives.
TEST(Arena, SizeText) {
    EXPECT_EQ(arena_size_from_text(nullptr), 1048576u);
    EXPECT_EQ(arena_size_from_text("+2048"), 2048u);
    EXPECT_EQ(arena_size_from_text("0"), 0u);
    EXPECT_EQ(arena_size_from_text("2048 "), 1048576u);
    EXPECT_EQ(arena_size_from_text("18446744073709551615"), 18446744073709551615ull);
    EXPECT_EQ(arena_size_from_text("18446744073709551616"), 1048576u);
}

TEST(Arena, EachThreadReadsTheSizeAtItsFirstUse) {
    EXPECT_EQ(fresh_thread_capacity(nullptr), 1048576u);
    EXPECT_EQ(fresh_thread_capacity("+2048"), 2048u);
    // A size no allocator can give falls back to the default instead of failing.
    EXPECT_EQ(fresh_thread_capacity("18446744073709551615"), 1048576u);
}

TEST(Arena, BufferIsZeroFilledAndAllocationsAreBounded) {
    with_thread_arena([](Arena& a) {
        ASSERT_EQ(a.capacity(), 1048576u);
        for (uint64_t i = 0; i < a.capacity(); i += 4096) ASSERT_EQ(a.data()[i], std::byte{0});
        EXPECT_EQ(a.offset(), 0u);
        EXPECT_TRUE(a.fits_f32(262144));
        EXPECT_FALSE(a.fits_f32(262145));
        EXPECT_EQ(a.alloc_f32(262145), nullptr);
        float* p = a.alloc_f32(262144);
        EXPECT_EQ(reinterpret_cast<const std::byte*>(p), a.data());
        EXPECT_EQ(a.alloc_f32(1), nullptr);  // full
    });
    // Handed back with the offset at 0: the whole buffer is free again.
    with_thread_arena([](Arena& a) { EXPECT_NE(a.alloc_f32(262144), nullptr); });
}

TEST(Arena, NestedBorrowAndFailedWorkHandTheArenaBack) {
    EXPECT_EQ(panic_text([] { with_thread_arena([](Arena&) { with_thread_arena([](Arena&) {}); }); }),
              "RefCell already borrowed");
    EXPECT_EQ(with_thread_arena([](Arena& a) { return a.offset(); }), 0u);
    EXPECT_EQ(panic_text([] {
                  with_thread_arena([](Arena& a) {
                      a.alloc_f32(10);
                      panic("work failed");
                  });
              }),
              "work failed");
    EXPECT_EQ(with_thread_arena([](Arena& a) { return a.offset(); }), 0u);
}

namespace {
bool g_checked = false;  // read after the join
std::string g_after_exit;

// Made before the thread's Arena, so destroyed after it at thread exit.
struct UsesArenaAtExit {
    ~UsesArenaAtExit() {
        g_after_exit = panic_text([] { with_thread_arena([](Arena&) {}); });
        g_checked = true;
    }
};
}  // namespace

TEST(Arena, UseAfterThreadExitDestroyedItIsAnInvariantFailure) {
    std::thread([] {
        thread_local UsesArenaAtExit late;
        (void)late;
        with_thread_arena([](Arena&) {});
    }).join();
    ASSERT_TRUE(g_checked);
    EXPECT_EQ(g_after_exit, "cannot access a Thread Local Storage value during or after destruction");
}

// ---- compensated chunk sum -----------------------------------------------------------------

TEST(ChunkSum, ChunkOfExactlyTheArenaIsCompensatedOneMoreIsNot) {
    std::vector<float> v = drifting(262145, 262145);
    const float compensated = arena_sum_f32_chunks(v.data(), 262144, 262144);
    EXPECT_EQ(std::bit_cast<uint32_t>(compensated), std::bit_cast<uint32_t>(kahan(v.data(), 262144)));
    EXPECT_GT(compensated, 1.0f);
    EXPECT_EQ(arena_sum_f32_chunks(v.data(), 262145, 262145), 1.0f);
    // Plain chunks keep an infinity, and two of them give NaN.
    v[1] = kInf;
    EXPECT_EQ(arena_sum_f32_chunks(v.data(), v.size(), v.size()), kInf);
    v[2] = -kInf;
    EXPECT_TRUE(std::isnan(arena_sum_f32_chunks(v.data(), v.size(), v.size())));
}

// 1,000,000 values cut for 8 processors (125,000 a chunk) or 3 (333,334 a chunk): only the
// former fit the default Arena and are compensated.
TEST(ChunkSum, MillionValuesForEightOrThreeProcessors) {
    std::vector<float> eight = drifting(1000000, 125000), three = drifting(1000000, 333334);
    // Eight equal chunk sums: every combining addition is exact.
    EXPECT_EQ(arena_sum_f32_chunks(eight.data(), 1000000, 125000), 8.0f * kahan(eight.data(), 125000));
    EXPECT_EQ(arena_sum_f32_chunks(three.data(), 1000000, 333334), 3.0f);
}

TEST(ChunkSum, HalvesCombineRightLeaningForOddCounts) {
    // Three chunks: s0 + (s1 + s2). Left to right, 2^24 + 1 + 1 would stay 2^24.
    const float v[] = {16777216.0f, 1.0f, 1.0f};
    EXPECT_EQ(arena_sum_f32_chunks(v, 3, 1), 16777218.0f);
    // Five chunks: (s0 + s1) + (s2 + (s3 + s4)).
    const float w[] = {16777216.0f, 1.0f, 16777216.0f, 1.0f, 1.0f};
    EXPECT_EQ(arena_sum_f32_chunks(w, 5, 1), (16777216.0f + 1.0f) + (16777216.0f + 2.0f));
}

TEST(ChunkSum, SignedZerosInfinitiesAndNaN) {
    const struct {
        std::vector<float> values;
        uint64_t chunk_size;
        float expected;  // NaN: any NaN
    } cases[] = {{{}, 4, -0.0f},
                 {{-0.0f, -0.0f, -0.0f, -0.0f, -0.0f}, 2, 0.0f},  // positive zero
                 {{-0.0f}, 1, 0.0f},
                 {{1.0f, 2.0f, kNaN, 4.0f}, 2, kNaN},
                 // In a compensated chunk an infinity followed by a value gives NaN.
                 {{kInf, 1.0f}, 2, kNaN},
                 {{1.0f, kInf}, 2, kInf},
                 {{1.0f, 2.0f, -kInf}, 2, -kInf},
                 {{kInf, -kInf}, 1, kNaN}};
    for (const auto& c : cases) {
        const float got = arena_sum_f32_chunks(c.values.data(), c.values.size(), c.chunk_size);
        if (std::isnan(c.expected))
            EXPECT_TRUE(std::isnan(got)) << got;
        else
            EXPECT_EQ(std::bit_cast<uint32_t>(got), std::bit_cast<uint32_t>(c.expected)) << got;
    }
}

TEST(ChunkSum, EmptyArenaSumsEveryChunkPlainly) {
    setenv("TESSRA_ARENA_SIZE", "0", 1);
    float got = 0.0f;
    std::vector<float> v = drifting(1000, 1000);
    // One chunk runs on the calling thread: a fresh one reads the size now.
    std::thread([&] { got = arena_sum_f32_chunks(v.data(), v.size(), v.size()); }).join();
    unsetenv("TESSRA_ARENA_SIZE");
    EXPECT_EQ(got, 1.0f);
}

TEST(ChunkSum, CallerHoldingItsArenaGetsTheSameSum) {
    std::vector<float> v = drifting(300000, 50000);
    for (uint64_t cs : {uint64_t{300000}, uint64_t{50000}, uint64_t{262144}}) {
        const float free_caller = arena_sum_f32_chunks(v.data(), v.size(), cs);
        const float held = with_thread_arena([&](Arena& a) {
            float s = arena_sum_f32_chunks(v.data(), v.size(), cs);
            EXPECT_EQ(a.offset(), 0u);
            return s;
        });
        EXPECT_EQ(std::bit_cast<uint32_t>(held), std::bit_cast<uint32_t>(free_caller)) << cs;
    }
}

TEST(ChunkSum, ZeroChunkSizeIsAnInvariantFailure) {
    float x = 1.0f;
    EXPECT_FALSE(panic_text([&] { arena_sum_f32_chunks(&x, 1, 0); }).empty());
}
