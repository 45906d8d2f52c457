// Parallel stable radix sorts by a 32-bit order key: of floats, and of packed items (the key in
// the high word, a position in the low word).
//
// One parallel pass distributes the items by the top 11 bits of their key (for floats: sign,
// exponent and two mantissa bits), which splits real data into many buckets; the buckets are
// then sorted on the low 21 bits independently, each by one thread in its own cache. A bucket
// too big for one thread is sorted by all of them. Every step keeps input order among equal keys.
#include "sort/parallel_sort.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "array/aligned_buffer.hpp"
#include "scheduler/pool.hpp"
#include "sort/float_order.hpp"
#include "sort/radix.hpp"

namespace tessra {

namespace {

constexpr int kLowBits = 21;
constexpr size_t kTopBuckets = size_t{1} << (32 - kLowBits);
// Below this many values per part the bookkeeping outweighs another thread.
constexpr size_t kMinPart = 16384;
constexpr size_t kInsertionMax = 32;
// Buckets up to this size take three narrow digits: fewer counters to clear than values.
constexpr size_t kNarrowMax = 8192;

// The low bits as two wide or three narrow digits.
constexpr Digits kWide = {2, {0, 11}, {0x7FF, 0x3FF}, {0, 2048}, 3072};
constexpr Digits kNarrow = {3, {0, 7, 14}, {0x7F, 0x7F, 0x7F}, {0, 128, 256}, 384};

inline size_t top_of(uint32_t key) { return key >> kLowBits; }

// The key of a packed item.
struct HighWord {
    uint32_t operator()(uint64_t item) const { return static_cast<uint32_t>(item >> 32); }
};

// Ranges [0, n) cut into `count` nearly equal parts, run one part per task on the pool.
class Parts {
public:
    Parts(size_t n, size_t threads) : n_(n), count_(std::clamp<size_t>(n / kMinPart, 1, threads)) {}
    size_t count() const { return count_; }

    template <class F>
    void run(F&& body) const {
        pool::parallel_tasks(count_,
                             [&](size_t p) { body(p, n_ * p / count_, n_ * (p + 1) / count_); });
    }

private:
    size_t n_;
    size_t count_;
};

// Sorts v[0 .. n) (items sharing their top bits) on the calling thread; scratch has n slots.
template <Digits D, class T, class Key>
void sort_low_serial(T* v, T* scratch, size_t n, Key key) {
    RadixPlan<D> plan = radix_plan<D>(v, n, key);
    const T* sorted = radix_run(plan, v, scratch, v, n, key);
    if (sorted != v) std::memcpy(v, sorted, n * sizeof(T));
}

template <class T, class Key>
void sort_low_serial(T* v, T* scratch, size_t n, Key key) {
    if (n <= kInsertionMax)
        insertion_sort(v, n, key);
    else if (n <= kNarrowMax)
        sort_low_serial<kNarrow>(v, scratch, n, key);
    else
        sort_low_serial<kWide>(v, scratch, n, key);
}

// As sort_low_serial with every pool thread: each pass counts and scatters part by part, the
// parts' offsets laid out in part order.
template <class T, class Key>
void sort_low_parallel(T* v, T* scratch, size_t n, size_t threads, Key key) {
    constexpr Digits D = kWide;
    const Parts parts(n, threads);
    std::vector<DigitCounts<D>> counts(parts.count());
    parts.run([&](size_t p, size_t lo, size_t hi) {
        count_digits<D>(v + lo, hi - lo, key, counts[p]);
    });
    DigitCounts<D> totals{};
    for (const auto& c : counts)
        for (size_t i = 0; i < D.counters; ++i) totals[i] += c[i];

    T* src = v;
    T* dst = scratch;
    bool first = true;
    for (int d = 0; d < D.count; ++d) {
        if (!separates<D>(totals, d, n)) continue;
        const size_t offset = D.offset[d];
        if (!first) {
            // The parts now hold other values: count this digit again.
            parts.run([&](size_t p, size_t lo, size_t hi) {
                size_t* c = counts[p].data() + offset;
                std::fill_n(c, D.size(d), 0);
                for (size_t i = lo; i < hi; ++i) ++c[(key(src[i]) >> D.shift[d]) & D.mask[d]];
            });
        }
        first = false;
        size_t next = 0;
        for (size_t b = offset; b < offset + D.size(d); ++b)
            for (auto& c : counts) next += std::exchange(c[b], next);
        parts.run([&](size_t p, size_t lo, size_t hi) {
            scatter<D>(src + lo, dst, hi - lo, key, d, counts[p].data() + offset);
        });
        std::swap(src, dst);
    }
    if (src != v)
        parts.run([&](size_t, size_t lo, size_t hi) {
            std::memcpy(v + lo, src + lo, (hi - lo) * sizeof(T));
        });
}

// Sorts in[0 .. n) into out. `scratch` has n slots and may be `in`, which is not read once the
// items are distributed.
template <class T, class Key>
void sort(const T* in, T* out, T* scratch, size_t n, size_t threads, Key key) {
    // Distribute by the top bits, part by part in part order.
    const Parts parts(n, threads);
    std::vector<std::array<size_t, kTopBuckets>> at(parts.count());
    parts.run([&](size_t p, size_t lo, size_t hi) {
        auto& c = at[p];
        c.fill(0);
        for (size_t i = lo; i < hi; ++i) ++c[top_of(key(in[i]))];
    });
    std::vector<size_t> bucket_begin(kTopBuckets + 1);
    size_t next = 0;
    for (size_t b = 0; b < kTopBuckets; ++b) {
        bucket_begin[b] = next;
        for (auto& c : at) next += std::exchange(c[b], next);
    }
    bucket_begin[kTopBuckets] = n;
    parts.run([&](size_t p, size_t lo, size_t hi) {
        auto& pos = at[p];
        for (size_t i = lo; i < hi; ++i) out[pos[top_of(key(in[i]))]++] = in[i];
    });

    // Sort each bucket on the low bits, largest first so the tail of the work is small pieces.
    std::vector<size_t> buckets;
    for (size_t b = 0; b < kTopBuckets; ++b)
        if (bucket_begin[b + 1] - bucket_begin[b] > 1) buckets.push_back(b);
    auto size_of = [&](size_t b) { return bucket_begin[b + 1] - bucket_begin[b]; };
    std::sort(buckets.begin(), buckets.end(),
              [&](size_t a, size_t b) { return size_of(a) > size_of(b); });
    const size_t fair_share = n / threads;
    auto sort_bucket = [&](size_t b) {
        const size_t lo = bucket_begin[b];
        const size_t size = size_of(b);
        if (threads > 1 && size > fair_share && size > 2 * kMinPart)
            sort_low_parallel(out + lo, scratch + lo, size, threads, key);
        else
            sort_low_serial(out + lo, scratch + lo, size, key);
    };
    if (threads == 1) {
        for (size_t b : buckets) sort_bucket(b);
        return;
    }
    pool::parallel_tasks(buckets.size(), [&](size_t i) { sort_bucket(buckets[i]); });
}

}  // namespace

void parallel_sort_f32(const float* in, float* out, size_t n) {
    if (n == 0) return;
    AlignedBuffer scratch = AlignedBuffer::reused(n * sizeof(uint32_t));
    sort(reinterpret_cast<const uint32_t*>(in), reinterpret_cast<uint32_t*>(out),
         scratch.as<uint32_t>(), n, pool::thread_count(), FloatBitsKey{});
}

uint64_t* parallel_sort_packed(uint64_t* items, uint64_t* scratch, size_t n) {
    if (n == 0) return items;
    sort(items, scratch, items, n, pool::thread_count(), HighWord{});
    return scratch;
}

}  // namespace tessra
