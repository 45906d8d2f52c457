#pragma once
#include <cstddef>
#include <cstdint>

namespace tessra {

// Writes the n floats of `in` to `out` (no overlap) in ascending float order, stably:
// equivalent values keep their input order. Runs on the general pool; the caller waits.
void parallel_sort_f32(const float* in, float* out, size_t n);

// Sorts n packed items stably by their high 32 bits, on the general pool; `scratch` has room
// for n items. Returns the buffer that holds the result; the other one's contents are lost.
uint64_t* parallel_sort_packed(uint64_t* items, uint64_t* scratch, size_t n);

}  // namespace tessra
