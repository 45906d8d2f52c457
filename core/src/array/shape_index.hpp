#pragma once
// Reshaping, transposing and picking elements. Every result owns a new buffer.
#include <cstdint>

#include "array/core_array.hpp"
#include "util/error.hpp"

namespace tessra {

// Same type and bytes under `new_shape` (copied).
Result<CoreArray> reshape(const CoreArray& a, Shape new_shape);
// 2-D Float32 [r, c] to [c, r].
Result<CoreArray> transpose(const CoreArray& a);
// Row `index` of the first axis (negative counts from the end); a 1-D array gives shape [1].
Result<CoreArray> getitem(const CoreArray& a, int64_t index);
// Element at a flat position.
Result<float> get_scalar(const CoreArray& a, uint64_t index);
// Elements at the positions held (as floats) in `indices`, in the shape of `indices`.
Result<CoreArray> take(const CoreArray& a, const CoreArray& indices);
// 1-D array of the elements whose mask value is not equal to zero.
Result<CoreArray> boolean_index(const CoreArray& a, const CoreArray& mask);

// Position held by a float index: truncated toward zero, negatives and NaN give 0, values past
// the 64-bit range give the largest position.
inline uint64_t float_to_index(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 18446744073709551616.0f) return UINT64_MAX;
    return static_cast<uint64_t>(v);
}

}  // namespace tessra
