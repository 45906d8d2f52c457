#include "dataframe/row_order.hpp"

#include <algorithm>
#include <array>

#include "scheduler/pool.hpp"
#include "sort/packed_sort.hpp"

namespace tessra {

namespace {

constexpr uint64_t kParallelOrderMin = 100'000;

// An unsigned key whose order is the wanted order of the values.
inline uint32_t order_key(uint32_t bits, bool int_keys) {
    if (int_keys) return bits ^ 0x80000000u;
    if ((bits & 0x7FFFFFFFu) > 0x7F800000u) return 0xFFFFFFFFu;  // NaN
    if (bits == 0x80000000u) bits = 0;                            // -0.0 equals 0.0
    return (bits & 0x80000000u) ? ~bits : bits | 0x80000000u;
}

// Items are (key << 32 | position), made in position order. A least-significant-digit radix
// sort over the key bytes is stable, so equal keys keep ascending positions.
void radix_sort_by_high_word(std::vector<uint64_t>& items) {
    const size_t n = items.size();
    std::array<std::array<size_t, 256>, 4> count{};
    for (uint64_t v : items)
        for (int d = 0; d < 4; ++d) ++count[d][(v >> (32 + 8 * d)) & 0xFF];
    std::vector<uint64_t> tmp(n);
    for (int d = 0; d < 4; ++d) {
        auto& c = count[d];
        if (*std::max_element(c.begin(), c.end()) == n) continue;  // one bucket: nothing moves
        size_t sum = 0;
        for (size_t& b : c) {
            size_t here = b;
            b = sum;
            sum += here;
        }
        const int shift = 32 + 8 * d;
        for (uint64_t v : items) tmp[c[(v >> shift) & 0xFF]++] = v;
        items.swap(tmp);
    }
}

}  // namespace

std::vector<uint64_t> stable_order(const uint32_t* keys, uint64_t n, bool int_keys) {
    std::vector<uint64_t> out(n);
    if (n > 0xFFFFFFFFull) {
        for (uint64_t i = 0; i < n; ++i) out[i] = i;
        std::stable_sort(out.begin(), out.end(), [&](uint64_t a, uint64_t b) {
            return order_key(keys[a], int_keys) < order_key(keys[b], int_keys);
        });
        return out;
    }
    if (n > kParallelOrderMin) {
        // Packed items in a scratch half, sorted across the pool, positions unpacked in place.
        std::vector<uint64_t> scratch(n);
        pool::parallel_for(n, pool::kRowChunk, [&](size_t b, size_t e) {
            for (size_t i = b; i < e; ++i) out[i] = uint64_t{order_key(keys[i], int_keys)} << 32 | i;
        });
        const uint64_t* sorted = parallel_sort_by_high_word(out.data(), scratch.data(), n);
        pool::parallel_for(n, pool::kRowChunk, [&](size_t b, size_t e) {
            for (size_t i = b; i < e; ++i) out[i] = sorted[i] & 0xFFFFFFFFu;
        });
        return out;
    }
    for (uint64_t i = 0; i < n; ++i) out[i] = uint64_t{order_key(keys[i], int_keys)} << 32 | i;
    // (key, position) pairs are distinct, so a plain sort of the packed items is stable too.
    if (n <= 256)
        std::sort(out.begin(), out.end());
    else
        radix_sort_by_high_word(out);
    for (uint64_t& v : out) v &= 0xFFFFFFFFu;
    return out;
}

}  // namespace tessra
