#pragma once
// The own kernel for small products: C (m×n) = A (m×k) · B (k×n), row-major, every element of
// C written. An element in a whole group of four columns is an ordered chain of fused
// multiply-adds over p; an element of the remaining columns (all of them when n < 4) is an
// ordered chain of separate multiplies and adds. The order fixes the bits.
#include <cstdint>

namespace tessra {

// Products of at most this many multiply-adds (m·k·n) take the own kernel; they are never
// split into row jobs either.
inline constexpr uint64_t kSmallProductMax = uint64_t{1} << 18;

void matmul_small(const float* a, const float* b, float* c, uint64_t m, uint64_t k, uint64_t n);

}  // namespace tessra
