#pragma once
// The compensated sum of long Float32 inputs, chunk by chunk on the general pool.
#include <cstdint>

namespace tessra {

// Whole-buffer sums of up to this many values run in index order on the calling thread; longer
// ones are cut into chunks over the general pool.
inline constexpr uint64_t kSequentialSumMax = 999'999;

// Sum of `count` floats in chunks of `chunk_size` (at least 1): each chunk is copied into the
// Arena of the thread that sums it and summed with Kahan compensation, or summed plainly when
// it does not fit. Chunk sums combine along the halving split tree.
float arena_sum_f32_chunks(const float* data, uint64_t count, uint64_t chunk_size);

}  // namespace tessra
