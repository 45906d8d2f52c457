// Short decimal cells, read as one word: every split of the digits around the point, on both
// sides of the eight-byte limit, against the standard library's correctly rounded reading.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <string>

#include "dataframe/csv/number.hpp"

namespace tessra {
namespace {

uint32_t expected_bits(const std::string& text) {
    float v = 0.0f;
    const char* b = text.data() + (text[0] == '+');
    auto r = std::from_chars(b, text.data() + text.size(), v);
    EXPECT_TRUE(r.ec == std::errc() && r.ptr == text.data() + text.size()) << text;
    return std::bit_cast<uint32_t>(v);
}

class ShortCell : public ::testing::TestWithParam<int> {};

TEST_P(ShortCell, EveryPointPlacementRoundsCorrectly) {
    const int digits = GetParam();
    const std::string all = "987654321";
    for (const std::string sign : {"", "-", "+"}) {
        for (int point = 0; point <= digits; ++point) {
            std::string body = all.substr(0, digits);
            std::string text = sign + body.substr(0, point) + "." + body.substr(point);
            if (point == digits && digits == 0) continue;
            for (const std::string& t : {text, sign + body}) {
                if (t.size() == sign.size()) continue;
                EXPECT_EQ(std::bit_cast<uint32_t>(csv::parse_f32(t.data(), t.data() + t.size())),
                          expected_bits(t))
                    << t;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Digits, ShortCell, ::testing::Range(1, 10));

}  // namespace
}  // namespace tessra
