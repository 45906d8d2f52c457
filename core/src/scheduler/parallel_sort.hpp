#pragma once
// Sorting floats on the general pool, and the one order every float sort of the system uses.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tessra {

// Unsigned key whose order is the float order: a before b when a < b; -0.0 and 0.0 share a
// key; every NaN shares the largest key, after +inf. Equal keys mean equivalent values, so
// NaN never needs a comparison of its own.
inline uint32_t float_order_key(float x) {
    uint32_t u = std::bit_cast<uint32_t>(x);
    if ((u & 0x7FFFFFFFu) > 0x7F800000u) return 0xFFFFFFFFu;
    if (u == 0x80000000u) u = 0;
    // Negative values: all bits flipped (larger magnitude, smaller key); others: sign bit set.
    return u ^ (static_cast<uint32_t>(static_cast<int32_t>(u) >> 31) | 0x80000000u);
}

// Moves each item left past every item whose key is strictly greater (stable).
template <class T, class Key>
void insertion_sort(T* v, size_t n, Key key) {
    for (size_t i = 1; i < n; ++i) {
        const T item = v[i];
        const uint32_t k = key(item);
        size_t j = i;
        for (; j > 0 && k < key(v[j - 1]); --j) v[j] = v[j - 1];
        v[j] = item;
    }
}

}  // namespace tessra

namespace tessra::pool {

// Writes `in` to `out` (same length, no overlap) in ascending float_order_key order, stably:
// equivalent values keep their input order. Runs on the general pool; the caller waits.
void parallel_sort_f32(std::span<const float> in, std::span<float> out);

}  // namespace tessra::pool
