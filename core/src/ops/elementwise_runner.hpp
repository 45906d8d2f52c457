#pragma once
// The one runner behind every element-wise method: the Float32 check, the shape rule, the
// result buffer and the loop out[i] = op(a[i]) or op(a[i], b[i]). Results go straight into the
// result's final aligned buffer; long arrays are split over the general pool. Elements are
// independent, so no split changes a result.
//
// Translation units that instantiate these loops start with
//     #pragma GCC optimize("no-math-errno", "no-trapping-math")
// so that selects, roundings and conversions vectorise. Neither option changes a value: errno
// is never read and no floating-point exception is ever tested.
#include <cstddef>
#include <string_view>

#include "array/core_array.hpp"
#include "platform/cpuid.hpp"
#include "scheduler/pool.hpp"
#include "util/error.hpp"

namespace tessra::ew {

// Cost classes of element functions: the length from which the pool pays for itself.
struct Simd {  // a few vector instructions per element
    static constexpr size_t kSerialBelow = pool::kVectorLoopMin;
    static constexpr bool kWideVectors = true;
};
// One C library call per element. Its loop gains nothing from AVX2 and calls the library a
// little faster without it.
struct LibCall {
    static constexpr size_t kSerialBelow = pool::kLibCallLoopMin;
    static constexpr bool kWideVectors = false;
};

// An op may also provide block(out, n, in) for a loop the compiler cannot vectorise itself.
template <class Op>
concept HasBlock = requires(const Op& op, float* out, size_t n, const float* in) {
    op.block(out, n, in);
};

namespace detail {

template <class Op>
inline void loop(const Op& op, float* __restrict out, size_t n, const float* __restrict a) {
    if constexpr (HasBlock<Op>) {
        op.block(out, n, a);
    } else {
        for (size_t i = 0; i < n; ++i) out[i] = op(a[i]);
    }
}

template <class Op>
inline void loop(const Op& op, float* __restrict out, size_t n, const float* __restrict a,
                 const float* __restrict b) {
    for (size_t i = 0; i < n; ++i) out[i] = op(a[i], b[i]);
}

#if defined(__x86_64__)
template <class Op, class... In>
__attribute__((target("avx2,fma"))) void loop_avx2(const Op& op, float* out, size_t n,
                                                   const In*... in) {
    loop(op, out, n, in...);
}
#endif

template <class Op, class... In>
void run_piece(const Op& op, float* out, size_t n, const In*... in) {
#if defined(__x86_64__)
    if constexpr (Op::kWideVectors)
        if (platform::cpu_has_avx2_fma()) return loop_avx2(op, out, n, in...);
#endif
    loop(op, out, n, in...);
}

// Pieces start on 64-byte boundaries of the (aligned) buffers.
inline constexpr size_t kBlock = 16;

}  // namespace detail

// out[i] = op(in[i]...) for i in [0, n).
template <class Op, class... In>
void map(const Op& op, float* out, size_t n, const In*... in) {
    const size_t blocks = (n + detail::kBlock - 1) / detail::kBlock;
    const size_t grain = n < Op::kSerialBelow
                             ? blocks
                             : pool::grain_for(blocks, pool::kPiecesPerThread,
                                               Op::kSerialBelow / 4 / detail::kBlock);
    pool::parallel_for(blocks, grain, [&](size_t lo, size_t hi) {
        const size_t begin = lo * detail::kBlock;
        const size_t end = hi * detail::kBlock < n ? hi * detail::kBlock : n;
        detail::run_piece(op, out + begin, end - begin, (in + begin)...);
    });
}

// TypeError "{word} currently only supports Float32".
Error f32_only(std::string_view word);
// ValueError "Shape mismatch for {word}: {a} vs {b}".
Error shape_mismatch(std::string_view word, const Shape& a, const Shape& b);

template <class Op>
Result<CoreArray> unary_frame(std::string_view word, const CoreArray& a, const Op& op) {
    if (!a.is_f32()) return f32_only(word);
    CoreArray out = uninit(a.shape);
    map(op, out.f32(), a.element_count(), a.f32());
    return out;
}

template <class Op>
Result<CoreArray> binary_frame(std::string_view word, const CoreArray& a, const CoreArray& b,
                               const Op& op) {
    if (!a.is_f32() || !b.is_f32()) return f32_only(word);
    if (a.shape != b.shape) return shape_mismatch(word, a.shape, b.shape);
    CoreArray out = uninit(a.shape);
    map(op, out.f32(), a.element_count(), a.f32(), b.f32());
    return out;
}

}  // namespace tessra::ew
