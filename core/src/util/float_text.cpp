#include "util/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tessra {

void append_float_text(std::string& out, float value) {
    if (std::isnan(value)) { out += "NaN"; return; }
    if (std::isinf(value)) { out += value < 0 ? "-inf" : "inf"; return; }

    // Shortest round-trip digits, read back out of the scientific form "d.ddde±XX".
    char sci[64];
    auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
    *res.ptr = '\0';
    const char* p = sci;
    bool negative = false;
    if (*p == '-') { negative = true; ++p; }
    char digits[32];
    int nd = 0;
    for (; *p && *p != 'e'; ++p)
        if (*p != '.') digits[nd++] = *p;
    int exp10 = std::atoi(p + 1);  // position of the first digit: value = 0.d1d2.. * 10^(exp10+1)

    if (negative) out += '-';
    float mag = std::fabs(value);
    if (mag != 0.0f && (mag >= 1e16f || mag < 1e-4f)) {
        out += digits[0];
        if (nd > 1) { out += '.'; out.append(digits + 1, nd - 1); }
        out += 'e';
        out += std::to_string(exp10);
        return;
    }
    if (exp10 < 0) {
        out += "0.";
        out.append(static_cast<size_t>(-exp10 - 1), '0');
        out.append(digits, nd);
        return;
    }
    int int_digits = exp10 + 1;
    if (nd <= int_digits) {
        out.append(digits, nd);
        out.append(static_cast<size_t>(int_digits - nd), '0');
        out += ".0";
    } else {
        out.append(digits, int_digits);
        out += '.';
        out.append(digits + int_digits, nd - int_digits);
    }
}

std::string float_plain_text(float value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char sci[64];
    auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
    *res.ptr = '\0';
    const char* p = sci;
    std::string out;
    if (*p == '-') out += *p++;
    std::string digits;
    for (; *p != 'e'; ++p)
        if (*p != '.') digits += *p;
    const int exp10 = std::atoi(p + 1);
    if (exp10 < 0) return out + "0." + std::string(static_cast<size_t>(-exp10 - 1), '0') + digits;
    const size_t int_digits = static_cast<size_t>(exp10) + 1;
    if (digits.size() <= int_digits) return out + digits + std::string(int_digits - digits.size(), '0');
    return out + digits.substr(0, int_digits) + "." + digits.substr(int_digits);
}

std::string float_text(float value) {
    std::string s;
    append_float_text(s, value);
    return s;
}

}  // namespace tessra
