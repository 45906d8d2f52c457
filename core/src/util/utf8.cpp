#include "util/utf8.hpp"

namespace tessra {

namespace {

inline bool is_cont(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

size_t utf8_valid_up_to(const unsigned char* p, size_t n) noexcept {
    size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;  // overlong
            if (c == 0xED) hi = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;  // overlong
            if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
        } else {
            return i;
        }
        if (i + len > n) return i;
        if (p[i + 1] < lo || p[i + 1] > hi) return i;
        for (size_t k = 2; k < len; ++k)
            if (!is_cont(p[i + k])) return i;
        i += len;
    }
    return n;
}

}  // namespace tessra
