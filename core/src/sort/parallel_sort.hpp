#pragma once
#include <cstddef>

namespace tessra {

// Writes the n floats of `in` to `out` (no overlap) in ascending float order, stably:
// equivalent values keep their input order. Runs on the general pool; the caller waits.
void parallel_sort_f32(const float* in, float* out, size_t n);

}  // namespace tessra
