#pragma once
// Stable ordering of rows by a 32-bit key column.
#include <cstdint>
#include <vector>

namespace tessra {

// Positions 0 .. n-1 stably sorted by `keys` (32-bit patterns). Float keys sort by value with
// 0.0 and -0.0 equal and every NaN after every number; int keys sort by signed value.
std::vector<uint64_t> stable_order(const uint32_t* keys, uint64_t n, bool int_keys);

}  // namespace tessra
