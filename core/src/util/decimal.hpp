#pragma once
#include <cstdint>
#include <optional>

namespace tessra {

// The value of an environment number: an optional leading '+', then one or more ASCII digits
// and nothing else, within 64 bits. Null, other text or a larger value give nothing.
inline std::optional<uint64_t> plain_u64(const char* text) {
    if (text == nullptr) return std::nullopt;
    const char* p = text + (*text == '+');
    if (*p == '\0') return std::nullopt;
    uint64_t v = 0;
    for (; *p; ++p) {
        if (*p < '0' || *p > '9') return std::nullopt;
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, uint64_t(*p - '0'), &v))
            return std::nullopt;
    }
    return v;
}

}  // namespace tessra
