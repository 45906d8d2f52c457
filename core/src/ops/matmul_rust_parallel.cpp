#include "ops/matmul_rust_parallel.hpp"

#include <algorithm>

#include "ops/matmul_rows.hpp"
#include "scheduler/matmul_pool.hpp"
#include "util/saturating.hpp"

namespace tessra {

uint64_t matmul_rows_per_job(uint64_t m, uint64_t t) {
    return std::max<uint64_t>((m + t - 1) / t, 32);
}

void matmul_parallel(const float* a, const float* b, float* c, uint64_t m, uint64_t k, uint64_t n,
                     uint64_t threads) {
    if (m < 32 || threads < 2 || saturating_mul({m, k, n}) < 262'145) {
        gemm_rows(a, b, c, m, k, n);
        return;
    }
    const uint64_t r = matmul_rows_per_job(m, threads);
    const uint64_t jobs = (m + r - 1) / r;
    pool::run_on_matmul_pool(threads, jobs, [&](size_t job) {
        const uint64_t s = job * r;
        gemm_rows(a + s * k, b, c + s * n, std::min(s + r, m) - s, k, n);
    });
}

}  // namespace tessra
