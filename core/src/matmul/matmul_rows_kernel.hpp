#pragma once
// One single-threaded general product over a block of rows: c (rows×n) = a (rows×k) · b (k×n),
// all row-major with row strides k, n and n. Built twice, for AVX2+FMA and for plain x86-64,
// and picked at run time.
#include <cstdint>

namespace tessra {

void gemm_rows(const float* a, const float* b, float* c, uint64_t rows, uint64_t k, uint64_t n);

namespace gemm_detail {
void gemm_rows_generic(const float* a, const float* b, float* c, uint64_t rows, uint64_t k, uint64_t n);
void gemm_rows_avx2(const float* a, const float* b, float* c, uint64_t rows, uint64_t k, uint64_t n);
}  // namespace gemm_detail

}  // namespace tessra
