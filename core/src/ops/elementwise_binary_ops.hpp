#pragma once
// Element functions of the two-operand methods: a is the receiver's value, b the argument's.
// Single precision throughout; the comparisons and logical functions give 1.0 or +0.0.
#include <cmath>

#include "ops/elementwise_int.hpp"
#include "ops/elementwise_runner.hpp"
#include "sort/float_order.hpp"
#include "util/arithmetic.hpp"

namespace tessra::ew {

inline float truth(bool t) { return t ? 1.0f : 0.0f; }

struct Add : Simd, FloatAdd {};
struct Sub : Simd, FloatSub {};
struct Mul : Simd, FloatMul {};
struct Div : Simd, FloatDiv {};
struct Power : LibCall {
    float operator()(float a, float b) const { return ::powf(a, b); }
};
struct Mod : LibCall {
    float operator()(float a, float b) const { return ::fmodf(a, b); }
};
// Floors the rounded quotient, with no correction for that rounding.
struct FloorDiv : Simd {
    float operator()(float a, float b) const { return std::floor(a / b); }
};
struct Hypot : LibCall {
    float operator()(float a, float b) const { return ::hypotf(a, b); }
};
struct Arctan2 : LibCall {
    float operator()(float a, float b) const { return ::atan2f(a, b); }
};
// Not IEEE copySign: a NaN `b` gives NaN.
struct Copysign : Simd {
    float operator()(float a, float b) const {
        return std::fabs(a) * (b != b ? b : std::copysign(1.0f, b));
    }
};

struct Eq : Simd {
    float operator()(float a, float b) const { return truth(a == b); }
};
struct Ne : Simd {
    float operator()(float a, float b) const { return truth(a != b); }
};
struct Gt : Simd {
    float operator()(float a, float b) const { return truth(a > b); }
};
struct Lt : Simd {
    float operator()(float a, float b) const { return truth(a < b); }
};
struct Ge : Simd {
    float operator()(float a, float b) const { return truth(a >= b); }
};
struct Le : Simd {
    float operator()(float a, float b) const { return truth(a <= b); }
};

// T(x) is x != 0: NaN is true, both zeros false.
struct LogicalAnd : Simd {
    float operator()(float a, float b) const { return truth((a != 0.0f) & (b != 0.0f)); }
};
struct LogicalOr : Simd {
    float operator()(float a, float b) const { return truth((a != 0.0f) | (b != 0.0f)); }
};
struct LogicalXor : Simd {
    float operator()(float a, float b) const { return truth((a != 0.0f) != (b != 0.0f)); }
};

struct BitwiseAnd : Simd {
    float operator()(float a, float b) const { return float_view(int_view(a) & int_view(b)); }
};
struct BitwiseOr : Simd {
    float operator()(float a, float b) const { return float_view(int_view(a) | int_view(b)); }
};
struct BitwiseXor : Simd {
    float operator()(float a, float b) const { return float_view(int_view(a) ^ int_view(b)); }
};
// The count is the low five bits of I(b); the left shift keeps the low 32 bits.
struct LeftShift : Simd {
    float operator()(float a, float b) const {
        const uint32_t shifted = static_cast<uint32_t>(int_view(a)) << (int_view(b) & 31);
        return float_view(static_cast<int32_t>(shifted));
    }
};
struct RightShift : Simd {
    float operator()(float a, float b) const { return float_view(int_view(a) >> (int_view(b) & 31)); }
};

struct Clip : Simd {
    float lo, hi;
    float operator()(float a) const { return min_num(max_num(a, lo), hi); }
};
struct PowScalar : LibCall {
    float e;
    float operator()(float a) const { return ::powf(a, e); }
};

}  // namespace tessra::ew
