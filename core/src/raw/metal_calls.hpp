#pragma once
// Direct calls of the Metal kernel runners on caller-owned memory, timed under back-end "Metal".
// A runner that cannot run (no device or queue, shader or pipeline not built) is reported as
// RuntimeError "Execution error: Metal {kernel} failed" rather than taken for success.
#include <cstdint>
#include <span>

#include "util/error.hpp"

namespace tessra::raw {

bool metal_is_available();

// kernel: "add_f32", "sub_f32", "mul_f32" or "div_f32".
Status metal_binary(const char* kernel, uint64_t a, uint64_t b, uint64_t result, uint64_t count);
Result<float> metal_sum_f32(uint64_t data, uint64_t count);
Result<float> metal_mean_f32(uint64_t data, uint64_t count);
Result<float> metal_max_f32(uint64_t data, uint64_t count);
Result<float> metal_min_f32(uint64_t data, uint64_t count);
Status metal_matmul_f32(uint64_t a, uint64_t b, uint64_t c, uint64_t m, uint64_t k, uint64_t n);
// Runs on the CPU: out (n×m) = transpose of in (m×n).
Status metal_transpose_f32(uint64_t in, uint64_t out, uint64_t m, uint64_t n);
// Checks its addresses and stride ranks; no broadcast operation exists behind them.
Status metal_broadcast_op(uint64_t a, uint64_t b, uint64_t out, size_t rank, size_t rank_a,
                          size_t rank_b);

}  // namespace tessra::raw
