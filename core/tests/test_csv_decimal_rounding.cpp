// Decimals whose digits sit around the largest integer a float holds exactly, with every
// count of fraction digits on both sides of the exact powers of ten: the reading must be the
// standard library's correctly rounded one.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <string>

#include "dataframe/csv/number.hpp"

namespace tessra {
namespace {

class DecimalAroundFloatLimit : public ::testing::TestWithParam<uint64_t> {};

TEST_P(DecimalAroundFloatLimit, EveryFractionLengthRoundsCorrectly) {
    const std::string digits = std::to_string(GetParam());
    for (size_t frac = 1; frac <= 12; ++frac) {
        std::string body =
            std::string(frac >= digits.size() ? frac - digits.size() + 1 : 0, '0') + digits;
        std::string text =
            body.substr(0, body.size() - frac) + "." + body.substr(body.size() - frac);
        float want = 0.0f;
        auto r = std::from_chars(text.data(), text.data() + text.size(), want);
        ASSERT_TRUE(r.ec == std::errc()) << text;
        EXPECT_EQ(std::bit_cast<uint32_t>(csv::parse_f32(text.data(), text.data() + text.size())),
                  std::bit_cast<uint32_t>(want))
            << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Mantissas, DecimalAroundFloatLimit,
                         ::testing::Values(1u, 3u, 8388609u, 9999999u, 16777213u, 16777215u,
                                           16777216u, 16777217u, 16777219u, 33554435u));

}  // namespace
}  // namespace tessra
