#pragma once
// The parallel road of the CPU product: row blocks of at least kMinJobRows rows, one
// single-threaded general product each, on the matmul pool.
#include <cstdint>

namespace tessra {

// Fewest rows of a row job, and so of a product worth splitting.
inline constexpr uint64_t kMinJobRows = 32;

// Rows per job for m rows and t threads: max(ceil(m / t), kMinJobRows).
uint64_t matmul_rows_per_job(uint64_t m, uint64_t t);

// Splits only when m >= kMinJobRows, t >= 2 and m·k·n > kSmallProductMax; otherwise one
// product on this thread.
void matmul_parallel(const float* a, const float* b, float* c, uint64_t m, uint64_t k, uint64_t n,
                     uint64_t threads);

}  // namespace tessra
