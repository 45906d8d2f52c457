#pragma once
// UTF-8 validity of field bytes, reported as the length of the valid prefix.
#include <cstddef>

namespace tessra::csv {

// Length of the longest prefix of [p, p + n) made of complete, well-formed UTF-8 sequences
// (no overlong forms, surrogates or values above U+10FFFF); n when all of it is valid.
size_t utf8_valid_up_to(const unsigned char* p, size_t n) noexcept;

}  // namespace tessra::csv
