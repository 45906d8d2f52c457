#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace tessra {

// The value of a plain decimal number: an optional leading '+', then one or more ASCII digits
// and nothing else, within 64 bits. Other text or a larger value give nothing.
inline std::optional<uint64_t> plain_u64(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, uint64_t(c - '0'), &v))
            return std::nullopt;
    }
    return v;
}

// As above for an environment value; null (unset) gives nothing.
inline std::optional<uint64_t> plain_u64(const char* text) {
    if (text == nullptr) return std::nullopt;
    return plain_u64(std::string_view(text));
}

}  // namespace tessra
