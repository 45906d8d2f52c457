#include "matmul/matmul_parallel.hpp"

#include <algorithm>

#include "matmul/matmul_pool.hpp"
#include "matmul/matmul_rows_kernel.hpp"
#include "matmul/matmul_small.hpp"
#include "platform/cpuid.hpp"
#include "util/saturating.hpp"

namespace tessra {

namespace {

void matmul_rows(const float* a, const float* b, float* c, uint64_t rows, uint64_t k, uint64_t n) {
#if defined(__x86_64__)
    if (platform::cpu_has_avx2_fma()) return detail::matmul_rows_avx2(a, b, c, rows, k, n);
#endif
    detail::matmul_rows_generic(a, b, c, rows, k, n);
}

}  // namespace

uint64_t matmul_rows_per_job(uint64_t m, uint64_t t) {
    return std::max<uint64_t>((m + t - 1) / t, kMinJobRows);
}

void matmul_parallel(const float* a, const float* b, float* c, uint64_t m, uint64_t k, uint64_t n,
                     uint64_t threads) {
    if (m < kMinJobRows || threads < 2 || saturating_mul({m, k, n}) <= kSmallProductMax) {
        matmul_rows(a, b, c, m, k, n);
        return;
    }
    const uint64_t r = matmul_rows_per_job(m, threads);
    const uint64_t jobs = (m + r - 1) / r;
    run_on_matmul_pool(threads, jobs, [&](size_t job) {
        const uint64_t s = job * r;
        matmul_rows(a + s * k, b, c + s * n, std::min(s + r, m) - s, k, n);
    });
}

}  // namespace tessra
