#pragma once
#include "array/core_array.hpp"
#include "util/error.hpp"

namespace tessra::linalg {

// The lower Cholesky factor L (A = L·Lᵀ) of a square Float32 matrix, zeros above the diagonal.
// Only the lower triangle of `a` is read; `a` is never changed.
Result<CoreArray> decompose(const CoreArray& a);

}  // namespace tessra::linalg
