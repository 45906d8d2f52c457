#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "scheduler/parallel_sort.hpp"

using namespace tessra;

namespace {
float from_bits(uint32_t b) { return std::bit_cast<float>(b); }
}  // namespace

// Strictly ascending keys along the float line, NaN after everything.
TEST(FloatOrderKey, FollowsTheFloatLine) {
    const float ordered[] = {
        -std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::max(), -1.0f,
        -std::numeric_limits<float>::min(), -std::numeric_limits<float>::denorm_min(), 0.0f,
        std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::min(), 1.0f,
        std::numeric_limits<float>::max(), std::numeric_limits<float>::infinity(), NAN,
    };
    for (size_t i = 1; i < std::size(ordered); ++i)
        EXPECT_LT(float_order_key(ordered[i - 1]), float_order_key(ordered[i])) << i;
}

TEST(FloatOrderKey, EquivalentValuesShareAKey) {
    EXPECT_EQ(float_order_key(-0.0f), float_order_key(0.0f));
    const uint32_t nans[] = {0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0xFF800001u, 0x7FFFFFFFu,
                             0xFFFFFFFFu};
    for (uint32_t b : nans) EXPECT_EQ(float_order_key(from_bits(b)), 0xFFFFFFFFu) << b;
}

// Adjacent floats keep adjacent order: walk every exponent of both signs.
TEST(FloatOrderKey, MonotoneAcrossExponents) {
    for (uint32_t e = 0; e < 255; ++e) {
        for (uint32_t m : {0u, 1u, 0x7FFFFFu}) {
            const float x = from_bits(e << 23 | m);
            if (x == 0.0f) continue;
            const float up = std::nextafter(x, INFINITY);
            EXPECT_LT(float_order_key(x), float_order_key(up)) << x;
            EXPECT_LT(float_order_key(-up), float_order_key(-x)) << x;
        }
    }
}
