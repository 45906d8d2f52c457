#include "matmul/matmul_small.hpp"

#include <algorithm>
#include <cmath>

#include "platform/cpuid.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tessra {

namespace {

// Columns from n4 on: separate multiply and add (the build never contracts them).
void tail_columns(const float* a, const float* b, float* c, uint64_t m, uint64_t k, uint64_t n,
                  uint64_t n4) {
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = n4; j < n; ++j) {
            float acc = 0.0f;
            for (uint64_t p = 0; p < k; ++p) acc = acc + a[i * k + p] * b[p * n + j];
            c[i * n + j] = acc;
        }
}

void fma_columns_portable(const float* a, const float* b, float* c, uint64_t m, uint64_t k,
                          uint64_t n, uint64_t n4) {
    for (uint64_t i = 0; i < m; ++i)
        for (uint64_t j = 0; j < n4; ++j) {
            float acc = 0.0f;
            for (uint64_t p = 0; p < k; ++p) acc = std::fma(a[i * k + p], b[p * n + j], acc);
            c[i * n + j] = acc;
        }
}

#if defined(__x86_64__)

// R rows by V eight-lane vectors of columns; each lane is its own ordered fma chain, so the
// width only changes speed, never bits.
template <int R, int V>
__attribute__((target("avx2,fma"), always_inline)) inline void tile8(
    const float* a, const float* b, float* c, uint64_t k, uint64_t n, uint64_t i, uint64_t j) {
    __m256 acc[R][V];
    for (int r = 0; r < R; ++r)
        for (int v = 0; v < V; ++v) acc[r][v] = _mm256_setzero_ps();
    for (uint64_t p = 0; p < k; ++p) {
        __m256 bv[V];
        for (int v = 0; v < V; ++v) bv[v] = _mm256_loadu_ps(b + p * n + j + 8 * v);
        for (int r = 0; r < R; ++r) {
            const __m256 av = _mm256_broadcast_ss(a + (i + r) * k + p);
            for (int v = 0; v < V; ++v) acc[r][v] = _mm256_fmadd_ps(av, bv[v], acc[r][v]);
        }
    }
    for (int r = 0; r < R; ++r)
        for (int v = 0; v < V; ++v) _mm256_storeu_ps(c + (i + r) * n + j + 8 * v, acc[r][v]);
}

template <int R>
__attribute__((target("avx2,fma"), always_inline)) inline void tile4(
    const float* a, const float* b, float* c, uint64_t k, uint64_t n, uint64_t i, uint64_t j) {
    __m128 acc[R];
    for (int r = 0; r < R; ++r) acc[r] = _mm_setzero_ps();
    for (uint64_t p = 0; p < k; ++p) {
        const __m128 bv = _mm_loadu_ps(b + p * n + j);
        for (int r = 0; r < R; ++r) acc[r] = _mm_fmadd_ps(_mm_broadcast_ss(a + (i + r) * k + p), bv, acc[r]);
    }
    for (int r = 0; r < R; ++r) _mm_storeu_ps(c + (i + r) * n + j, acc[r]);
}

template <int R>
__attribute__((target("avx2,fma"))) void row_group(const float* a, const float* b, float* c,
                                                  uint64_t k, uint64_t n, uint64_t n4, uint64_t i) {
    uint64_t j = 0;
    for (; j + 16 <= n4; j += 16) tile8<R, 2>(a, b, c, k, n, i, j);
    if (j + 8 <= n4) tile8<R, 1>(a, b, c, k, n, i, j), j += 8;
    if (j + 4 <= n4) tile4<R>(a, b, c, k, n, i, j);
}

__attribute__((target("avx2,fma"))) void fma_columns_avx2(const float* a, const float* b, float* c,
                                                         uint64_t m, uint64_t k, uint64_t n,
                                                         uint64_t n4) {
    uint64_t i = 0;
    for (; i + 4 <= m; i += 4) row_group<4>(a, b, c, k, n, n4, i);
    for (; i < m; ++i) row_group<1>(a, b, c, k, n, n4, i);
}

#endif

}  // namespace

void matmul_small(const float* a, const float* b, float* c, uint64_t m, uint64_t k, uint64_t n) {
    // An empty output has nothing to walk, however many rows it claims; an empty sum is 0.
    if (m == 0 || n == 0) return;
    if (k == 0) {
        std::fill_n(c, m * n, 0.0f);
        return;
    }
    const uint64_t n4 = n / 4 * 4;
#if defined(__x86_64__)
    if (platform::cpu_has_avx2_fma())
        fma_columns_avx2(a, b, c, m, k, n, n4);
    else
#endif
        fma_columns_portable(a, b, c, m, k, n, n4);
    tail_columns(a, b, c, m, k, n, n4);
}

}  // namespace tessra
