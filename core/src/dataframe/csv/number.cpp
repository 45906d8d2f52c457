#include "dataframe/csv/number.hpp"

#include <charconv>
#include <cstring>
#include <limits>

#include "dataframe/csv/cell.hpp"

namespace tessra::csv {

using namespace number_detail;

namespace {

// Case-insensitive match of [b, e) against a lower-case word.
bool word_is(const char* b, const char* e, const char* word) {
    size_t n = std::strlen(word);
    if (static_cast<size_t>(e - b) != n) return false;
    for (size_t i = 0; i < n; ++i)
        if ((b[i] | 0x20) != word[i]) return false;
    return true;
}

float parse_word(const char* b, const char* e, bool negative) {
    if (word_is(b, e, "inf") || word_is(b, e, "infinity"))
        return with_sign(std::numeric_limits<float>::infinity(), negative);
    if (word_is(b, e, "nan")) return with_sign(missing_value(), negative);
    return missing_value();
}

// Long or extreme literals: the standard library rounds exactly but reports values beyond
// the f32 range instead of giving them, so the infinity or zero is chosen here from the
// decimal place of the first significant digit. [b, e) is unsigned and already checked.
float parse_slow(const char* b, const char* e, int64_t written, bool negative) {
    float v = 0.0f;
    auto r = std::from_chars(b, e, v, std::chars_format::general);
    if (r.ec == std::errc() && r.ptr == e) return with_sign(v, negative);
    if (r.ec != std::errc::result_out_of_range) return missing_value();
    const char* point = b;
    while (point != e && is_digit(*point)) ++point;
    int64_t place = 0;
    for (const char* q = b; q != e && (is_digit(*q) || *q == '.'); ++q) {
        if (*q == '.' || *q == '0') continue;
        place = q < point ? point - 1 - q : -(q - point);
        break;
    }
    bool huge = place + written > 0;
    return with_sign(huge ? std::numeric_limits<float>::infinity() : 0.0f, negative);
}

}  // namespace

float number_detail::parse_general(const char* b, const char* e) noexcept {
    const char* p = b;
    if (p == e) return missing_value();
    bool negative = *p == '-';
    p += negative || *p == '+';
    if (p == e) return missing_value();
    const char* number = p;
    if (!is_digit(*p) && *p != '.') return parse_word(p, e, negative);

    uint64_t w = 0;
    const char* int_begin = p;
    p = take_digits(p, e, w);
    int64_t digits = p - int_begin;
    int64_t exponent = 0;
    if (p != e && *p == '.') {
        const char* frac_begin = ++p;
        p = take_digits(p, e, w);
        digits += p - frac_begin;
        exponent = frac_begin - p;
    }
    if (digits == 0) return missing_value();
    int64_t written = 0;  // the exponent as written, saturated far beyond any f32 range
    if (p != e && (*p | 0x20) == 'e') {
        ++p;
        bool minus = false;
        if (p != e && (*p == '-' || *p == '+')) minus = *p++ == '-';
        if (p == e || !is_digit(*p)) return missing_value();
        while (p != e && is_digit(*p)) {
            if (written < 1'000'000'000) written = written * 10 + (*p - '0');
            ++p;
        }
        if (minus) written = -written;
    }
    if (p != e) return missing_value();
    float v;
    if (digits <= 19 && decimal_to_f32(w, exponent + written, v)) return with_sign(v, negative);
    return parse_slow(number, e, written, negative);
}

#if defined(__SSE2__)

float parse_f32_padded(const char* b, const char* e) noexcept {
    const char* p = b;
    bool negative = p != e && *p == '-';
    p += p != e && (*p == '-' || *p == '+');
    size_t len = static_cast<size_t>(e - p);
    if (len == 0 || len > 32) return parse_general(b, e);
    ByteClasses c = classify16(p);
    if (len > 16) c = extend32(c, p);
    float v;
    if (plain_decimal(p, len, c.digit & low_bits(len), c.point & low_bits(len), v))
        return with_sign(v, negative);
    return parse_general(b, e);
}

#else

float parse_f32_padded(const char* b, const char* e) noexcept { return parse_general(b, e); }

#endif

float parse_f32(const char* b, const char* e) noexcept {
    constexpr size_t kShort = 48;
    size_t len = static_cast<size_t>(e - b);
    if (len > kShort) return parse_general(b, e);
    char buf[kNumberPad + kShort + kNumberPad] = {};
    std::memcpy(buf + kNumberPad, b, len);
    return parse_f32_padded(buf + kNumberPad, buf + kNumberPad + len);
}

}  // namespace tessra::csv
