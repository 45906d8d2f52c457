#pragma once
// Size arithmetic that stops at the largest 64-bit value instead of wrapping, for decisions that
// must see the true size. A zero factor still gives 0, as it does for the true product.
#include <cstdint>
#include <initializer_list>

namespace tessra {

inline uint64_t saturating_mul(uint64_t a, uint64_t b) {
    uint64_t r;
    return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}

inline uint64_t saturating_mul(std::initializer_list<uint64_t> factors) {
    uint64_t r = 1;
    for (uint64_t f : factors) r = saturating_mul(r, f);
    return r;
}

inline uint64_t saturating_add(uint64_t a, uint64_t b) {
    uint64_t r;
    return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
}

}  // namespace tessra
