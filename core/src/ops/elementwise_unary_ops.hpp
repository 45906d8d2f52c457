#pragma once
// Element functions of the one-operand methods. Each step is one single-precision operation in
// the order written; the named C library functions are called as they are.
#include <cmath>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ops/elementwise_int.hpp"
#include "ops/elementwise_runner.hpp"

namespace tessra::ew {

// ---- arithmetic ---------------------------------------------------------------------------

struct Square : Simd {
    float operator()(float x) const { return x * x; }
};
struct Neg : Simd {
    float operator()(float x) const { return -x; }
};
struct Abs : Simd {
    float operator()(float x) const { return std::fabs(x); }
};
struct Reciprocal : Simd {
    float operator()(float x) const { return 1.0f / x; }
};
struct Cbrt : LibCall {
    float operator()(float x) const { return ::cbrtf(x); }
};

// Correctly rounded in every lane. The C library's errno contract keeps the compiler from
// vectorising sqrtf itself, so the block is spelled out.
struct Sqrt : Simd {
    float operator()(float x) const { return std::sqrt(x); }
    void block(float* __restrict out, size_t n, const float* __restrict in) const {
        size_t i = 0;
#if defined(__SSE2__)
        for (; i + 4 <= n; i += 4) _mm_storeu_ps(out + i, _mm_sqrt_ps(_mm_loadu_ps(in + i)));
        for (; i < n; ++i) out[i] = _mm_cvtss_f32(_mm_sqrt_ss(_mm_set_ss(in[i])));
#endif
        for (; i < n; ++i) out[i] = std::sqrt(in[i]);
    }
};

// ---- trigonometric and hyperbolic ---------------------------------------------------------

struct Sin : LibCall {
    float operator()(float x) const { return ::sinf(x); }
};
struct Cos : LibCall {
    float operator()(float x) const { return ::cosf(x); }
};
struct Tan : LibCall {
    float operator()(float x) const { return ::tanf(x); }
};
struct Arcsin : LibCall {
    float operator()(float x) const { return ::asinf(x); }
};
struct Arccos : LibCall {
    float operator()(float x) const { return ::acosf(x); }
};
struct Arctan : LibCall {
    float operator()(float x) const { return ::atanf(x); }
};
struct Sinh : LibCall {
    float operator()(float x) const { return ::sinhf(x); }
};
struct Cosh : LibCall {
    float operator()(float x) const { return ::coshf(x); }
};
struct Tanh : LibCall {
    float operator()(float x) const { return ::tanhf(x); }
};

struct Arcsinh : LibCall {
    float operator()(float x) const {
        const float a = std::fabs(x);
        const float inv = 1.0f / a;
        const float h = ::hypotf(1.0f, inv);
        return std::copysign(::log1pf(a + a / (h + inv)), x);
    }
};
struct Arccosh : LibCall {
    float operator()(float x) const {
        if (x < 1.0f) return from_bits(0x7FC00000u);  // ordered: a NaN goes on below
        return ::logf(x + std::sqrt(x - 1.0f) * std::sqrt(x + 1.0f));
    }
};
struct Arctanh : LibCall {
    float operator()(float x) const { return 0.5f * ::log1pf((x + x) / (1.0f - x)); }
};

// ---- exponentials and logarithms ----------------------------------------------------------

struct Exp : LibCall {
    float operator()(float x) const { return ::expf(x); }
};
struct Exp2 : LibCall {
    float operator()(float x) const { return ::exp2f(x); }
};
struct Log : LibCall {
    float operator()(float x) const { return ::logf(x); }
};
struct Log2 : LibCall {
    float operator()(float x) const { return ::log2f(x); }
};
struct Log10 : LibCall {
    float operator()(float x) const { return ::log10f(x); }
};
// Around an explicit subtraction or addition of 1: near 0 the small part is lost.
struct Expm1 : LibCall {
    float operator()(float x) const { return ::expf(x) - 1.0f; }
};
struct Log1p : LibCall {
    float operator()(float x) const { return ::logf(x + 1.0f); }
};

// ---- angles ---------------------------------------------------------------------------------

struct Degrees : Simd {
    float operator()(float x) const { return x * from_bits(0x42652EE1u); }  // 180/pi
};
struct Radians : Simd {
    float operator()(float x) const { return x * from_bits(0x3C8EFA35u); }  // pi/180
};

// ---- rounding -------------------------------------------------------------------------------

struct Floor : Simd {
    float operator()(float x) const { return std::floor(x); }
};
struct Ceil : Simd {
    float operator()(float x) const { return std::ceil(x); }
};
struct Trunc : Simd {
    float operator()(float x) const { return std::trunc(x); }
};
// Halfway cases away from zero. x - trunc(x) is exact, so this is roundf, in vector form.
inline float round_half_away(float x) {
    const float t = std::trunc(x);
    return std::fabs(x - t) >= 0.5f ? t + std::copysign(1.0f, x) : t;
}
struct Round : Simd {
    float operator()(float x) const { return round_half_away(x); }
};
// Halfway cases to even, by stepping an odd away-from-zero result back toward zero.
struct Rint : Simd {
    float operator()(float x) const {
        const float r = round_half_away(x);
        const bool back = std::fabs(x - r) == 0.5f && (int_view(r) & 1) != 0;
        return back ? r - std::copysign(1.0f, x) : r;
    }
};
struct Sign : Simd {
    float operator()(float x) const { return x > 0.0f ? 1.0f : (x < 0.0f ? -1.0f : 0.0f); }
};

// ---- logical, bitwise, parity ---------------------------------------------------------------

struct LogicalNot : Simd {
    float operator()(float x) const { return x == 0.0f ? 1.0f : 0.0f; }
};
struct BitwiseNot : Simd {
    float operator()(float x) const { return float_view(~int_view(x)); }
};
// r = x - 2 * trunc(x / 2) with one rounding, carrying the sign of x: fmodf(x, 2) for finite x,
// NaN for infinities and NaN.
inline float parity_remainder(float x) {
    const float t = std::trunc(x * 0.5f);
    return std::copysign(std::fma(t, -2.0f, x), x);
}
struct IsEven : Simd {
    float operator()(float x) const { return parity_remainder(x) == 0.0f ? 1.0f : 0.0f; }
};
struct IsOdd : Simd {
    float operator()(float x) const { return parity_remainder(x) != 0.0f ? 1.0f : 0.0f; }
};

}  // namespace tessra::ew
