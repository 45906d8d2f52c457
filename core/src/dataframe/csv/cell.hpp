#pragma once
// The short path of the cell reader, inline so that the record loop keeps it in registers.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dataframe/csv/number.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessra::csv {

namespace number_detail {

// Every form of the grammar, one character at a time.
float parse_general(const char* b, const char* e) noexcept;

// Powers of ten: exact up to 1e22, and the negative ones correctly rounded.
inline constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr double kNegPow10[] = {1e0,   1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                       1e-8,  1e-9,  1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15,
                                       1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22};
// The powers of ten that are exact floats (5^10 < 2^24).
inline constexpr float kPow10F32[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                      1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
inline constexpr uint64_t kPow10Int[] = {1u,
                                         10u,
                                         100u,
                                         1000u,
                                         10000u,
                                         100000u,
                                         1000000u,
                                         10000000u,
                                         100000000u,
                                         1000000000u,
                                         10000000000u,
                                         100000000000u,
                                         1000000000000u,
                                         10000000000000u,
                                         100000000000000u,
                                         1000000000000000u,
                                         10000000000000000u,
                                         100000000000000000u,
                                         1000000000000000000u,
                                         10000000000000000000u};

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Sets the sign bit without a branch: signs are unpredictable in real data.
inline float with_sign(float v, bool negative) {
    uint32_t sign = static_cast<uint32_t>(negative) << 31;
    return std::bit_cast<float>(std::bit_cast<uint32_t>(v) ^ sign);
}

inline uint64_t load8(const char* p) {
    uint64_t x;
    std::memcpy(&x, p, 8);
    return x;
}

// Eight ASCII digits at once, the first in the lowest byte.
inline bool eight_digits(uint64_t x) {
    return ((x & 0xF0F0F0F0F0F0F0F0u) | (((x + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) >> 4)) ==
           0x3333333333333333u;
}

inline uint64_t eight_digit_value(uint64_t x) {
    x -= 0x3030303030303030u;
    x = x * 10 + (x >> 8);
    return (((x & 0x000000FF000000FFu) * 0x000F424000000064u) +
            (((x >> 16) & 0x000000FF000000FFu) * 0x0000271000000001u)) >>
           32;
}

// Appends the digits at p to w (wrapping past 19 of them); returns the first non-digit.
inline const char* take_digits(const char* p, const char* e, uint64_t& w) {
    if constexpr (std::endian::native == std::endian::little) {
        while (e - p >= 8 && eight_digits(load8(p))) {
            w = w * 100000000u + eight_digit_value(load8(p));
            p += 8;
        }
    }
    while (p != e && is_digit(*p)) w = w * 10 + static_cast<unsigned>(*p++ - '0');
    return p;
}

// w x 10^exponent to f32: a float division where w and the power of ten are both exact
// floats, else one double multiplication; false where that cannot be trusted. The double carries at
// most three roundings (of w, of a negative power of ten, of the product), so it lies within three
// units in its last place of the exact value; the narrowing then rounds as exact arithmetic would
// unless the double is that close to a point halfway between two floats. The exponent range keeps
// every value far inside the normal f32 range, so the narrowing drops exactly the low 29 of the 52
// fraction bits.
inline bool decimal_to_f32(uint64_t w, int64_t exponent, float& out) {
    if (w == 0) {
        out = 0.0f;
        return true;
    }
    if (exponent == 0) {  // one rounding, by the conversion itself
        out = static_cast<float>(w);
        return true;
    }
    if (exponent < 0 && exponent >= -10 && w <= (uint64_t{1} << 24)) {
        // Both operands are exact floats, so the one division rounds correctly.
        out = static_cast<float>(w) / kPow10F32[-exponent];
        return true;
    }
    if (exponent < -22 || exponent > 22) return false;
    double d = static_cast<double>(w) * (exponent < 0 ? kNegPow10[-exponent] : kPow10[exponent]);
    uint64_t low = std::bit_cast<uint64_t>(d) & 0x1FFFFFFFu;
    if (low - (0x10000000u - 8) <= 16) return false;
    out = static_cast<float>(d);
    return true;
}

#if defined(__SSE2__)

// The last k of 8 bytes, the first byte being the lowest.
inline constexpr uint64_t kKeep[9] = {0,
                                      0xFF00000000000000u,
                                      0xFFFF000000000000u,
                                      0xFFFFFF0000000000u,
                                      0xFFFFFFFF00000000u,
                                      0xFFFFFFFFFF000000u,
                                      0xFFFFFFFFFFFF0000u,
                                      0xFFFFFFFFFFFFFF00u,
                                      0xFFFFFFFFFFFFFFFFu};

// The n digits (n <= 19) just before z as a number. Reads the 24 bytes before z.
inline uint64_t digits_before(const char* z, int n) {
    auto word = [&](int offset, int count) {  // the last `count` of the 8 bytes at z - offset
        uint64_t keep = kKeep[count > 8 ? 8 : count];
        uint64_t x = load8(z - offset);
        return eight_digit_value((x & keep) | (0x3030303030303030u & ~keep));
    };
    uint64_t v = word(8, n);
    if (n <= 8) return v;
    v += word(16, n - 8) * 100000000u;
    if (n <= 16) return v;
    return v + word(24, n - 16) * 10000000000000000u;
}

inline uint32_t low_bits(size_t n) { return n >= 32 ? ~uint32_t{0} : (uint32_t{1} << n) - 1; }

// Bit i says what byte p[i] is, for the 16 or 32 bytes at p.
struct ByteClasses {
    uint32_t digit, point, stop, high;
};

inline ByteClasses classify16(const char* p) {
    const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9), point = _mm_set1_epi8('.');
    const __m128i comma = _mm_set1_epi8(','), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i d = _mm_sub_epi8(v, zero);
    __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, cr)),
                                _mm_cmpeq_epi8(v, lf));
    auto bits = [](__m128i m) { return static_cast<uint32_t>(_mm_movemask_epi8(m)); };
    return {bits(_mm_cmpeq_epi8(_mm_max_epu8(d, nine), nine)), bits(_mm_cmpeq_epi8(v, point)),
            bits(stop), bits(v)};
}

// The classes of the 16 bytes after those of `lo`, added to it.
inline ByteClasses extend32(const ByteClasses& lo, const char* p) {
    ByteClasses hi = classify16(p + 16);
    return {lo.digit | hi.digit << 16, lo.point | hi.point << 16, lo.stop | hi.stop << 16,
            lo.high | hi.high << 16};
}

// The unsigned text [p, p + len) (len <= 32) from its digit and point bits (none at or beyond
// len): false unless it is a plain decimal, digits with at most one point, that the fast
// conversion can decide.
inline bool plain_decimal(const char* p, size_t len, uint32_t digit, uint32_t point, float& out) {
    if ((digit | point) != low_bits(len) || (point & (point - 1)) != 0 || digit == 0) return false;
    int int_digits = point ? __builtin_ctz(point) : static_cast<int>(len);
    int frac_digits = point ? static_cast<int>(len) - int_digits - 1 : 0;
    int digits = int_digits + frac_digits;
    uint64_t w;
    if (len <= 8) {
        // The cell in one word: the integer digits move up over the point.
        uint64_t x = load8(p + len - 8);
        uint64_t frac = kKeep[frac_digits];
        x = (x & frac) | ((point ? x << 8 : x) & ~frac);
        uint64_t keep = kKeep[digits];
        w = eight_digit_value((x & keep) | (0x3030303030303030u & ~keep));
    } else {
        if (digits > 19) return false;
        w = digits_before(p + int_digits, int_digits);
        if (frac_digits) w = w * kPow10Int[frac_digits] + digits_before(p + len, frac_digits);
    }
    return decimal_to_f32(w, -frac_digits, out);
}

#endif

}  // namespace number_detail

#if defined(__SSE2__)

// One unquoted cell at p, ending at the first comma, CR or LF, or at end. Returns where the
// cell ends and sets `value` as parse_f32 would give it, or missing_value() with `non_ascii`
// set when the cell holds bytes above 0x7F. Returns nullptr, setting nothing, for a cell this
// short form does not cover (over 31 bytes); the caller then finds its end itself. Needs
// kNumberPad readable bytes before p and after end.
inline const char* parse_cell(const char* p, const char* end, float& value,
                              bool& non_ascii) noexcept {
    using namespace number_detail;
    // Most cells end within 16 bytes; look at the next 16 only when this one does not.
    size_t avail = static_cast<size_t>(end - p);
    ByteClasses c = classify16(p);
    uint32_t stop = c.stop & low_bits(avail);
    if (stop == 0 && avail > 16) {
        c = extend32(c, p);
        stop = c.stop & low_bits(avail);
    }
    size_t len;
    if (stop)
        len = static_cast<size_t>(__builtin_ctz(stop));
    else if (avail < 32)
        len = avail;
    else
        return nullptr;
    uint32_t cell = low_bits(len);
    non_ascii = (c.high & cell) != 0;
    if (non_ascii) {
        value = missing_value();
        return p + len;
    }
    // Bitwise, not logical, operators: no branches on the sign. p[0] is readable even when
    // the cell is empty.
    bool minus = (len > 0) & (p[0] == '-');
    size_t sign = minus | ((len > 0) & (p[0] == '+'));
    float v;
    if (plain_decimal(p + sign, len - sign, (c.digit & cell) >> sign, (c.point & cell) >> sign, v))
        value = with_sign(v, minus);
    else
        value = parse_general(p, p + len);
    return p + len;
}

#else

inline const char* parse_cell(const char*, const char*, float&, bool&) noexcept { return nullptr; }

#endif

}  // namespace tessra::csv
