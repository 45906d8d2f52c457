#pragma once
// The value of a table cell that has none: an unreadable CSV cell, a left-joined row without a
// match, a pivot cell no row fills. One quiet NaN, so the bits agree wherever it arises.
#include <bit>
#include <cstdint>

namespace tessra {

constexpr float missing_value() { return std::bit_cast<float>(uint32_t{0x7FC00000}); }

}  // namespace tessra
