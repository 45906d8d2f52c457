#pragma once
// Single-precision (and 32-bit integer, byte) work on memory the caller owns, named by integer
// addresses. Lengths, alignment and lifetimes are the caller's; only zero addresses are refused.
// Each call but sum_as_string is timed by the profiler under back-end "CPU".
#include <cstdint>
#include <span>
#include <string>

#include "util/error.hpp"

namespace tessra::raw {

Status add_f32(uint64_t a, uint64_t b, uint64_t out, uint64_t count);
Status sub_f32(uint64_t a, uint64_t b, uint64_t out, uint64_t count);
Status mul_f32(uint64_t a, uint64_t b, uint64_t out, uint64_t count);
Status div_f32(uint64_t a, uint64_t b, uint64_t out, uint64_t count);

Result<float> sum_f32(uint64_t data, uint64_t count);
Result<float> mean_f32(uint64_t data, uint64_t count);
Result<int32_t> sum_i32(uint64_t data, uint64_t count);
Result<bool> any(uint64_t data, uint64_t count);
Result<bool> all(uint64_t data, uint64_t count);

// Sum of a[i]·b[i] from -0.0 in index order, each product rounded (no fused multiply-add).
Result<float> dot_product_f32(uint64_t a, uint64_t b, uint64_t count);
Status matmul_2d_f32(uint64_t a, uint64_t b, uint64_t out, uint64_t m, uint64_t k, uint64_t n);

// Views of len(shape) axes, the last fastest; strides in bytes, missing ones count 0.
Result<float> sum_f32_strided(uint64_t data, std::span<const int64_t> shape,
                              std::span<const int64_t> strides);
Result<float> mean_f32_strided(uint64_t data, std::span<const int64_t> shape,
                               std::span<const int64_t> strides);
Result<float> max_f32_strided(uint64_t data, std::span<const int64_t> shape,
                              std::span<const int64_t> strides);
Result<float> min_f32_strided(uint64_t data, std::span<const int64_t> shape,
                              std::span<const int64_t> strides);

// Decimal text of the exact sum.
std::string sum_as_string(uint64_t a, uint64_t b);

namespace kernels {
int32_t sum_i32(const int32_t* data, uint64_t count);  // wrapping, in index order
float dot_product(const float* a, const float* b, uint64_t count);
}  // namespace kernels

}  // namespace tessra::raw
