#pragma once
// UTF-8 validity, reported as the length of the valid prefix.
#include <cstddef>
#include <string_view>

namespace tessra {

// Length of the longest prefix of [p, p + n) made of complete, well-formed UTF-8 sequences
// (no overlong forms, surrogates or values above U+10FFFF); n when all of it is valid.
size_t utf8_valid_up_to(const unsigned char* p, size_t n) noexcept;

inline bool valid_utf8(std::string_view s) noexcept {
    return utf8_valid_up_to(reinterpret_cast<const unsigned char*>(s.data()), s.size()) == s.size();
}

}  // namespace tessra
