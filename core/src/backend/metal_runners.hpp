#pragma once
// The three Metal kernel runners, on the process's device and queue. A runner copies its
// inputs into new shared buffers, runs one kernel of the shader source (compiled afresh each
// call), waits, and copies the result back. It never raises: false means failure.
#include <cstdint>

namespace tessra::backend {

// kernel: "add_f32", "sub_f32", "mul_f32" or "div_f32".
bool run_metal_binary_kernel(const char* kernel, const float* a, const float* b, float* out,
                             uint64_t count);
// kernel: "sum_f32", "max_f32" or "min_f32"; the count reaches the GPU as 32 bits, so a larger
// one fails.
bool run_metal_reduce_kernel(const char* kernel, const float* data, uint64_t count, float* result);
// c = a (m×k) · b (k×n); the sizes reach the GPU as 32 bits, so a larger one fails.
bool run_metal_matmul_kernel(const float* a, const float* b, float* c, uint64_t m, uint64_t k,
                             uint64_t n);

}  // namespace tessra::backend
