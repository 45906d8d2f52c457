#pragma once
// Decimal text to f32 for CSV cells: a strict literal grammar, correctly rounded.
#include <cstddef>
#include <cstdint>

#include "dataframe/missing.hpp"

namespace tessra::csv {

// Parses [b, e) as an optional sign followed by inf, infinity or nan (any case) or by digits
// with at most one point (at least one digit) and an optional exponent; nothing else, not
// even white space. The result is the nearest f32 (ties to even), overflowing to an infinity
// and underflowing to a signed zero. A sign applies to every form, so "-nan" is the NaN with
// the sign bit set (0xFFC00000). Text outside the grammar gives missing_value().
float parse_f32(const char* b, const char* e) noexcept;

// Bytes that parse_f32_padded may read on either side of its text.
constexpr size_t kNumberPad = 32;

// As parse_f32, for text with kNumberPad readable bytes before b and after e (their
// contents do not matter). Plain decimals take a short path with few branches.
float parse_f32_padded(const char* b, const char* e) noexcept;

}  // namespace tessra::csv
