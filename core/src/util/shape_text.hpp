#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace tessra {

// "[2, 3]": how shapes appear in messages.
template <class Int>
std::string list_text(std::span<const Int> items) {
    std::string s = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) s += ", ";
        s += std::to_string(items[i]);
    }
    s += ']';
    return s;
}

inline std::string shape_text(std::span<const uint64_t> shape) { return list_text(shape); }

}  // namespace tessra
