#include "hardware/env_text.hpp"

#include <cstdint>
#include <cstdlib>

#include "util/utf8.hpp"

namespace tessra::hw {

namespace {

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Code point starting at s[i] (valid UTF-8 assumed) and its length.
char32_t decode(std::string_view s, size_t i, size_t& len) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    if (b(0) < 0x80) return len = 1, b(0);
    if (b(0) < 0xE0) return len = 2, ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    if (b(0) < 0xF0) return len = 3, ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    return len = 4,
           ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
}

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::string_view trim_white_space(std::string_view s) {
    size_t len;
    while (!s.empty() && is_white_space(decode(s, 0, len))) s.remove_prefix(len);
    while (!s.empty()) {
        size_t start = s.size() - 1;
        while (start > 0 && continuation(static_cast<unsigned char>(s[start]))) --start;
        if (!is_white_space(decode(s, start, len))) break;
        s.remove_suffix(s.size() - start);
    }
    return s;
}

std::optional<std::string> env_text(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || !valid_utf8(v)) return std::nullopt;
    return std::string(v);
}

}  // namespace tessra::hw
