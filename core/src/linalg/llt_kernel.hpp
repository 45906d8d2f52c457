#pragma once
// In-place LLT of a column-major n×n float matrix (64-byte aligned), built once per instruction
// set; the caller picks the variant the CPU runs. Only the lower triangle is read and written.
// True when the factorisation found every pivot positive.
#include <cstdint>

namespace tessra::linalg::detail {

bool llt_lower_generic(float* a, int64_t n);
bool llt_lower_avx2(float* a, int64_t n);

}  // namespace tessra::linalg::detail
