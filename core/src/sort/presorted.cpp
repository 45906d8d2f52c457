#include "sort/presorted.hpp"

#include <algorithm>
#include <atomic>

#include "scheduler/pool.hpp"

namespace tessra {

namespace {

// Keys checked before the pool is asked: unsorted data fails within its first few keys.
constexpr uint64_t kSerialHead = 4096;
// Neighbour pairs per test of a verdict: long enough for the loop to vectorise.
constexpr uint64_t kBlock = 512;
// Keys per piece of the pool's check.
constexpr uint64_t kPiece = uint64_t{1} << 16;

// Signed ranks with the order of float_bits_order_key and int_bits_order_key, made of
// operations that vectorise at every x86-64 level (signed compares only): a float ranks as its
// magnitude bits with its sign, so -0.0 and 0.0 tie, and every NaN ranks above +inf.
struct FloatRank {
    int32_t operator()(uint32_t u) const {
        const int32_t m = static_cast<int32_t>(u & 0x7FFFFFFFu);
        const int32_t r = static_cast<int32_t>(u) < 0 ? -m : m;
        return m > 0x7F800000 ? INT32_MAX : r;
    }
};
struct IntRank {
    int32_t operator()(uint32_t u) const { return static_cast<int32_t>(u); }
};

struct Verdict {
    bool in_order = true;
    bool ties = false;
};

// The pairs (i, i + 1) for i in [b, e), all below n. `stop` is raised on a step against the
// order and ends every other piece early.
template <bool kAscending, class Key>
Verdict check(const uint32_t* v, uint64_t b, uint64_t e, Key key, std::atomic<bool>& stop) {
    Verdict out;
    for (uint64_t lo = b; lo < e; lo += kBlock) {
        if (stop.load(std::memory_order_relaxed)) return {false, false};
        const uint64_t hi = std::min(lo + kBlock, e);
        int against = 0, ties = 0;
        for (uint64_t i = lo; i < hi; ++i) {
            const int32_t x = key(v[i]), y = key(v[i + 1]);
            against |= kAscending ? x > y : x < y;
            ties |= x == y;
        }
        if (against) {
            stop.store(true, std::memory_order_relaxed);
            return {false, false};
        }
        out.ties |= ties;
    }
    return out;
}

template <bool kAscending, class Key>
Verdict check_all(const uint32_t* v, uint64_t n, Key key) {
    std::atomic<bool> stop{false};
    const uint64_t pairs = n - 1;
    const uint64_t head = std::min(pairs, kSerialHead);
    Verdict out = check<kAscending>(v, 0, head, key, stop);
    if (!out.in_order || head == pairs) return out;
    std::atomic<bool> ties{out.ties};
    pool::parallel_for(pairs - head, kPiece, [&](size_t b, size_t e) {
        if (check<kAscending>(v, head + b, head + e, key, stop).ties) ties.store(true, std::memory_order_relaxed);
    });
    return {!stop.load(), ties.load()};
}

template <class Key>
Presorted classify(const uint32_t* v, uint64_t n, bool ascending, Key key) {
    if (n < 2) return Presorted::Identity;
    if (ascending) return check_all<true>(v, n, key).in_order ? Presorted::Identity : Presorted::No;
    const Verdict d = check_all<false>(v, n, key);
    if (!d.in_order) return Presorted::No;
    return d.ties ? Presorted::ReversedRuns : Presorted::Identity;
}

template <class Key>
void reverse_runs(const uint32_t* v, uint64_t n, Key key, uint64_t* out) {
    // Each piece writes the runs that start in it, the last one possibly past its end.
    pool::parallel_for(n, kPiece, [&](size_t b, size_t e) {
        uint64_t i = b;
        while (i < e && i > 0 && key(v[i]) == key(v[i - 1])) ++i;
        while (i < e) {
            uint64_t j = i + 1;
            while (j < n && key(v[j]) == key(v[i])) ++j;
            for (uint64_t t = i; t < j; ++t) out[t] = i + j - 1 - t;
            i = j;
        }
    });
}

}  // namespace

Presorted presorted(const uint32_t* keys, uint64_t n, bool int_keys, bool ascending) {
    if (int_keys) return classify(keys, n, ascending, IntRank{});
    return classify(keys, n, ascending, FloatRank{});
}

void reversed_runs(const uint32_t* keys, uint64_t n, bool int_keys, uint64_t* out) {
    if (int_keys)
        reverse_runs(keys, n, IntRank{}, out);
    else
        reverse_runs(keys, n, FloatRank{}, out);
}

}  // namespace tessra
