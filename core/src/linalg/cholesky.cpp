#include "linalg/cholesky.hpp"

#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "linalg/llt_kernel.hpp"
#include "platform/cpuid.hpp"

namespace tessra::linalg {

namespace {

// Transposed copies go tile by tile so that both sides stay in cache, in 4×4 register blocks:
// with n a power of two, single-element strided accesses all fall into one cache set.
constexpr uint64_t kTile = 32;

// dst[j·n + i] = src[i·n + j] for i in [i0, i0 + rows), j in [j0, j0 + cols).
void transpose_tile(const float* src, float* dst, uint64_t n, uint64_t i0, uint64_t rows,
                    uint64_t j0, uint64_t cols) {
    uint64_t i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= rows; i += 4) {
        const float* s = src + (i0 + i) * n + j0;
        float* d = dst + j0 * n + i0 + i;
        uint64_t j = 0;
        for (; j + 4 <= cols; j += 4) {
            __m128 r0 = _mm_loadu_ps(s + j), r1 = _mm_loadu_ps(s + n + j);
            __m128 r2 = _mm_loadu_ps(s + 2 * n + j), r3 = _mm_loadu_ps(s + 3 * n + j);
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            _mm_storeu_ps(d + j * n, r0);
            _mm_storeu_ps(d + (j + 1) * n, r1);
            _mm_storeu_ps(d + (j + 2) * n, r2);
            _mm_storeu_ps(d + (j + 3) * n, r3);
        }
        for (; j < cols; ++j)
            for (uint64_t k = 0; k < 4; ++k) d[j * n + k] = s[k * n + j];
    }
#endif
    for (; i < rows; ++i)
        for (uint64_t j = 0; j < cols; ++j) dst[(j0 + j) * n + i0 + i] = src[(i0 + i) * n + j0 + j];
}

// Calls tile(i0, rows, j0, cols) for the tiles that hold the lower triangle (i >= j).
template <class F>
void for_lower_tiles(uint64_t n, F&& tile) {
    for (uint64_t i0 = 0; i0 < n; i0 += kTile)
        for (uint64_t j0 = 0; j0 <= i0; j0 += kTile)
            tile(i0, std::min(kTile, n - i0), j0, std::min(kTile, n - j0));
}

// Column-major w gets the row-major a's lower triangle (and the rest of the diagonal tiles);
// the factorisation reads nothing above the diagonal.
void lower_to_column_major(const float* a, float* w, uint64_t n) {
    for_lower_tiles(n, [&](uint64_t i0, uint64_t rows, uint64_t j0, uint64_t cols) {
        transpose_tile(a, w, n, i0, rows, j0, cols);
    });
}

// In place: the column-major factor in b (the row-major upper triangle) becomes the row-major
// lower triangle, with zeros above the diagonal. Each tile moves to its mirror position.
void factor_to_row_major(float* b, uint64_t n) {
    for_lower_tiles(n, [&](uint64_t i0, uint64_t rows, uint64_t j0, uint64_t cols) {
        if (i0 != j0) {
            transpose_tile(b, b, n, j0, cols, i0, rows);
            for (uint64_t r = j0; r < j0 + cols; ++r) std::fill_n(b + r * n + i0, rows, 0.0f);
            return;
        }
        float t[kTile][kTile];
        for (uint64_t r = 0; r < rows; ++r) std::copy_n(b + (i0 + r) * n + i0, rows, t[r]);
        for (uint64_t r = 0; r < rows; ++r)
            for (uint64_t c = 0; c < rows; ++c) b[(i0 + r) * n + i0 + c] = c <= r ? t[c][r] : 0.0f;
    });
}

bool factor(float* w, uint64_t n) {
    const auto size = static_cast<int64_t>(n);
#if defined(__x86_64__)
    if (platform::cpu_has_avx2_fma()) return detail::llt_lower_avx2(w, size);
#endif
    return detail::llt_lower_generic(w, size);
}

}  // namespace

Result<CoreArray> decompose(const CoreArray& a) {
    if (a.ndim() != 2 || a.shape[0] != a.shape[1])
        return value_error("Cholesky requires a square 2D matrix");
    // Other element types would be read as reinterpreted (or too few) bytes.
    if (!a.is_f32()) return type_error("cholesky() currently only supports Float32");
    const uint64_t n = a.shape[0];

    // The factor is computed column-major (the layout the factorisation runs fastest on) in
    // the result's own buffer, then turned row-major in place.
    CoreArray out = uninit({n, n});
    float* l = out.f32();
    lower_to_column_major(a.f32(), l, n);
    // The factorisation stops only at a pivot <= 0; NaN pivots (from NaN or infinite input)
    // pass that test and leave NaN on the diagonal.
    bool ok = factor(l, n);
    for (uint64_t i = 0; ok && i < n; ++i) ok = std::isfinite(l[i * n + i]);
    if (!ok) return value_error("Matrix is not positive definite");
    factor_to_row_major(l, n);
    return out;
}

}  // namespace tessra::linalg
