#pragma once
// One single-threaded general product over a block of rows: c (rows×n) = a (rows×k) · b (k×n),
// all row-major with row strides k, n and n. Built once per instruction set; the caller picks
// the variant the CPU runs.
#include <cstdint>

namespace tessra::detail {

void matmul_rows_generic(const float* a, const float* b, float* c, uint64_t rows, uint64_t k,
                         uint64_t n);
void matmul_rows_avx2(const float* a, const float* b, float* c, uint64_t rows, uint64_t k,
                      uint64_t n);

}  // namespace tessra::detail
