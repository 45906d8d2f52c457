#pragma once
// Stable least-significant-digit radix sort by a 32-bit key, and insertion sort for short runs.
// Every step keeps input order among equal keys.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace tessra {

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

// How a key splits into digits, least significant first; each digit's counters sit at its
// offset in one array of `counters` entries.
struct Digits {
    int count;
    int shift[4];
    uint32_t mask[4];
    size_t offset[4];
    size_t counters;

    constexpr size_t slot(uint32_t key, int d) const {
        return offset[d] + ((key >> shift[d]) & mask[d]);
    }
    constexpr size_t size(int d) const { return size_t{mask[d]} + 1; }
};
// Four byte digits: the whole key.
inline constexpr Digits kByteDigits = {
    4, {0, 8, 16, 24}, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 256, 512, 768}, 1024};

template <Digits D>
using DigitCounts = std::array<size_t, D.counters>;

// Counts every digit of every key in one read.
template <Digits D, class T, class Key>
void count_digits(const T* v, size_t n, Key key, DigitCounts<D>& c) {
    c.fill(0);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t k = key(v[i]);
        for (int d = 0; d < D.count; ++d) ++c[D.slot(k, d)];
    }
}

// A digit every one of the n keys shares moves nothing.
template <Digits D>
bool separates(const DigitCounts<D>& c, int d, size_t n) {
    const auto first = c.begin() + static_cast<ptrdiff_t>(D.offset[d]);
    return *std::max_element(first, first + static_cast<ptrdiff_t>(D.size(d))) != n;
}

// The counts of one digit turned into the first output slot of each digit value.
inline void counts_to_starts(size_t* at, size_t size) {
    size_t next = 0;
    for (size_t b = 0; b < size; ++b) next += std::exchange(at[b], next);
}

// One stable pass: src to dst by digit d; `at` holds the digit's start slots and is advanced.
template <Digits D, int d, class T, class Key>
void scatter(const T* src, T* dst, size_t n, Key key, size_t* at) {
    for (size_t i = 0; i < n; ++i) dst[at[(key(src[i]) >> D.shift[d]) & D.mask[d]]++] = src[i];
}
// The same for a digit chosen at run time; each digit's loop gets its shift and mask as
// constants, which is measurably faster than reading them in the loop.
template <Digits D, class T, class Key>
void scatter(const T* src, T* dst, size_t n, Key key, int d, size_t* at) {
    if (d == 0) scatter<D, 0>(src, dst, n, key, at);
    if (d == 1) scatter<D, 1>(src, dst, n, key, at);
    if constexpr (D.count > 2)
        if (d == 2) scatter<D, 2>(src, dst, n, key, at);
    if constexpr (D.count > 3)
        if (d == 3) scatter<D, 3>(src, dst, n, key, at);
}

// The counts of a sort and the digits it has to pass over.
template <Digits D>
struct RadixPlan {
    DigitCounts<D> counts;
    int passes[4];
    int count = 0;
};

template <Digits D, class T, class Key>
RadixPlan<D> radix_plan(const T* in, size_t n, Key key) {
    RadixPlan<D> plan;
    count_digits<D>(in, n, key, plan.counts);
    for (int d = 0; d < D.count; ++d)
        if (separates<D>(plan.counts, d, n)) plan.passes[plan.count++] = d;
    return plan;
}

// Runs the plan's passes in -> x -> y -> x ...; returns the buffer holding the result (`in`
// when there is no pass). `in` may be `y`, never `x`.
template <Digits D, class T, class Key>
const T* radix_run(RadixPlan<D>& plan, const T* in, T* x, T* y, size_t n, Key key) {
    const T* src = in;
    T* dst = x;
    for (int j = 0; j < plan.count; ++j) {
        const int d = plan.passes[j];
        size_t* at = plan.counts.data() + D.offset[d];
        counts_to_starts(at, D.size(d));
        scatter<D>(src, dst, n, key, d, at);
        src = dst;
        dst = dst == x ? y : x;
    }
    return src;
}

}  // namespace tessra
