#pragma once
// The orders of 32-bit values that every sort of the system uses, and the rule by which the
// extremes (max, min, clip) pick between two floats.
#include <bit>
#include <cstdint>

namespace tessra {

// Unsigned key whose order is the float order: a before b when a < b; -0.0 and 0.0 share a
// key; every NaN shares the largest key, after +inf. Equal keys mean equivalent values, so
// NaN never needs a comparison of its own.
inline uint32_t float_bits_order_key(uint32_t u) {
    if ((u & 0x7FFFFFFFu) > 0x7F800000u) return 0xFFFFFFFFu;
    if (u == 0x80000000u) u = 0;
    // Negative values: all bits flipped (larger magnitude, smaller key); others: sign bit set.
    return u ^ (static_cast<uint32_t>(static_cast<int32_t>(u) >> 31) | 0x80000000u);
}
inline uint32_t float_order_key(float x) {
    return float_bits_order_key(std::bit_cast<uint32_t>(x));
}
// The same as a function object, whose type lets the sorts inline it.
struct FloatBitsKey {
    uint32_t operator()(uint32_t u) const { return float_bits_order_key(u); }
};

// Unsigned key whose order is the signed order of an Int32 bit pattern.
inline uint32_t int_bits_order_key(uint32_t u) { return u ^ 0x80000000u; }

// IEEE 754-2008 maxNum / minNum with -0.0 below +0.0: a single NaN operand loses. F is float,
// or a vector of floats taken lane by lane with U the unsigned vector of the same shape.
// Written as selects so that element loops vectorise.
template <class F, class U = uint32_t>
inline F max_num(F a, F b) {
    F m = a > b ? a : b;
    m = a == b ? std::bit_cast<F>(std::bit_cast<U>(a) & std::bit_cast<U>(b)) : m;  // of zeros, +0.0
    return b != b ? a : m;
}
template <class F, class U = uint32_t>
inline F min_num(F a, F b) {
    F m = a < b ? a : b;
    m = a == b ? std::bit_cast<F>(std::bit_cast<U>(a) | std::bit_cast<U>(b)) : m;  // of zeros, -0.0
    return b != b ? a : m;
}

}  // namespace tessra
