// A least-significant-digit radix sort, 8 bits a pass, with every pass split into parts: each
// part counts its own digits, the parts' output slots are laid out in part order, and each
// part scatters its items. Items of one digit keep their order, so every pass is stable.
#include "sort/packed_sort.hpp"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "scheduler/pool.hpp"

namespace tessra {

namespace {

// Below this many items per part another thread costs more than it saves.
constexpr size_t kMinPart = size_t{1} << 15;
using Counts = std::array<size_t, 256>;

inline size_t digit(uint64_t item, int d) { return (item >> (32 + 8 * d)) & 0xFF; }

}  // namespace

uint64_t* parallel_sort_by_high_word(uint64_t* items, uint64_t* scratch, size_t n) {
    const size_t parts = std::clamp<size_t>(n / kMinPart, 1, pool::thread_count());
    auto lo = [&](size_t p) { return n * p / parts; };
    std::vector<std::array<Counts, 4>> counts(parts);
    pool::parallel_tasks(parts, [&](size_t p) {
        auto& c = counts[p];
        for (Counts& d : c) d.fill(0);
        for (size_t i = lo(p), e = lo(p + 1); i < e; ++i)
            for (int d = 0; d < 4; ++d) ++c[d][digit(items[i], d)];
    });

    uint64_t* src = items;
    uint64_t* dst = scratch;
    bool first = true;
    for (int d = 0; d < 4; ++d) {
        Counts total{};
        for (const auto& c : counts)
            for (size_t b = 0; b < 256; ++b) total[b] += c[d][b];
        // A digit every item shares moves nothing.
        if (*std::max_element(total.begin(), total.end()) == n) continue;
        if (!first)  // the parts now hold other items: count this digit again
            pool::parallel_tasks(parts, [&](size_t p) {
                Counts& c = counts[p][d];
                c.fill(0);
                for (size_t i = lo(p), e = lo(p + 1); i < e; ++i) ++c[digit(src[i], d)];
            });
        first = false;
        size_t next = 0;
        for (size_t b = 0; b < 256; ++b)
            for (auto& c : counts) next += std::exchange(c[d][b], next);
        pool::parallel_tasks(parts, [&](size_t p) {
            Counts& at = counts[p][d];
            for (size_t i = lo(p), e = lo(p + 1); i < e; ++i) dst[at[digit(src[i], d)]++] = src[i];
        });
        std::swap(src, dst);
    }
    return src;
}

}  // namespace tessra
