#pragma once
// Reductions and cumulative operations over the first element-count Float32 values of an
// array. Every sum and product runs strictly in index order in single precision; only the
// order-free scans (extremes, their positions, NaN counts) are vectorised.
#include <cstdint>
#include <span>

#include "array/core_array.hpp"
#include "util/error.hpp"

namespace tessra {

Result<float> reduce_sum(const CoreArray& a);
Result<float> reduce_mean(const CoreArray& a);
Result<float> reduce_var(const CoreArray& a);
Result<float> reduce_std_dev(const CoreArray& a);
Result<float> reduce_prod(const CoreArray& a);
Result<float> reduce_nansum(const CoreArray& a);
Result<float> reduce_nanmean(const CoreArray& a);
Result<float> reduce_nanmax(const CoreArray& a);
Result<float> reduce_nanmin(const CoreArray& a);
Result<uint64_t> reduce_argmax(const CoreArray& a);
Result<uint64_t> reduce_argmin(const CoreArray& a);
Result<CoreArray> cumsum(const CoreArray& a);
Result<CoreArray> cumprod(const CoreArray& a);

// The kernels, on raw values (exposed for the unit tests of the vectorised scans).
namespace kernels {
float nanmax(std::span<const float> x);
float nanmin(std::span<const float> x);
uint64_t argmax(std::span<const float> x);  // x non-empty
uint64_t argmin(std::span<const float> x);  // x non-empty
}  // namespace kernels

}  // namespace tessra
