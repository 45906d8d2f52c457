#pragma once
// The integer view of a float used by the bitwise, shift and parity functions, written with
// selects only so that loops over it vectorise.
#include <bit>
#include <cstdint>

namespace tessra::ew {

inline uint32_t bits(float x) { return std::bit_cast<uint32_t>(x); }
inline float from_bits(uint32_t u) { return std::bit_cast<float>(u); }

// I(x): x truncated toward zero to 32 bits, saturating; NaN gives 0.
inline int32_t int_view(float x) {
    // 2147483520 is the largest float below 2^31: clamp into the range the conversion defines.
    float c = x < -2147483648.0f ? -2147483648.0f : (x > 2147483520.0f ? 2147483520.0f : x);
    c = x == x ? c : 0.0f;
    const int32_t v = static_cast<int32_t>(c);
    return x >= 2147483648.0f ? INT32_MAX : v;
}

// F(k): the nearest float to k, ties to even.
inline float float_view(int32_t k) { return static_cast<float>(k); }

}  // namespace tessra::ew
