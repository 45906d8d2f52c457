#pragma once
// Stable sort of packed items (a 32-bit key in the high word) on the general pool.
#include <cstddef>
#include <cstdint>

namespace tessra {

// Sorts the n items stably by their high 32 bits; `scratch` has room for n items. Returns the
// buffer that holds the result: `items` or `scratch`.
uint64_t* parallel_sort_by_high_word(uint64_t* items, uint64_t* scratch, size_t n);

}  // namespace tessra
