// Parallel stable radix sort of floats by float_order_key.
//
// One parallel pass distributes the values by the top 11 bits of their key (sign, exponent and
// two mantissa bits), which splits real data into many buckets; the buckets are then sorted on
// the low 21 bits independently, each by one thread in its own cache. A bucket too big for one
// thread is sorted by all of them. Every step keeps input order among equal keys.
#include "scheduler/parallel_sort.hpp"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "array/aligned_buffer.hpp"
#include "scheduler/tbb_arena.hpp"

namespace tessra::pool {

namespace {

constexpr int kLowBits = 21;
constexpr size_t kTopBuckets = size_t{1} << (32 - kLowBits);
// Below this many values per part the bookkeeping outweighs another thread.
constexpr size_t kMinPart = 16384;
constexpr size_t kInsertionMax = 32;
// Buckets up to this size take three narrow digits: fewer counters to clear than values.
constexpr size_t kNarrowMax = 8192;

inline uint32_t key_of(uint32_t bits) { return float_order_key(std::bit_cast<float>(bits)); }
inline size_t top_of(uint32_t key) { return key >> kLowBits; }

// How the low bits split into digits; each digit's counters sit at its offset in one array.
struct Digits {
    int count;
    int shift[3];
    uint32_t mask[3];
    size_t offset[3];
    size_t counters;

    size_t slot(uint32_t key, int d) const { return offset[d] + ((key >> shift[d]) & mask[d]); }
    size_t size(int d) const { return mask[d] + 1; }
};
constexpr Digits kWide = {2, {0, 11}, {0x7FF, 0x3FF}, {0, 2048}, 3072};
constexpr Digits kNarrow = {3, {0, 7, 14}, {0x7F, 0x7F, 0x7F}, {0, 128, 256}, 384};
using Counts = std::array<size_t, 3072>;

// Ranges [0, n) cut into `count` nearly equal parts, run one part per task on the pool.
class Parts {
public:
    Parts(size_t n, size_t threads) : n_(n), count_(std::clamp<size_t>(n / kMinPart, 1, threads)) {}
    size_t count() const { return count_; }

    template <class F>
    void run(F&& body) const {
        if (count_ == 1) {
            body(size_t{0}, size_t{0}, n_);
            return;
        }
        tbb::parallel_for(
            size_t{0}, count_, [&](size_t p) { body(p, n_ * p / count_, n_ * (p + 1) / count_); },
            tbb::static_partitioner());
    }

private:
    size_t n_;
    size_t count_;
};

void count_all(const uint32_t* v, size_t n, const Digits& digits, Counts& c) {
    std::fill_n(c.begin(), digits.counters, 0);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t k = key_of(v[i]);
        for (int d = 0; d < digits.count; ++d) ++c[digits.slot(k, d)];
    }
}

// A digit every value shares needs no pass.
bool separates(const Counts& totals, const Digits& digits, int d, size_t n) {
    const auto first = totals.begin() + static_cast<ptrdiff_t>(digits.offset[d]);
    return *std::max_element(first, first + static_cast<ptrdiff_t>(digits.size(d))) != n;
}

// Sorts v[0 .. n) (values sharing their top bits) on the calling thread; scratch has n slots.
void sort_low_serial(uint32_t* v, uint32_t* scratch, size_t n) {
    if (n <= kInsertionMax) {
        insertion_sort(v, n, key_of);
        return;
    }
    const Digits& digits = n <= kNarrowMax ? kNarrow : kWide;
    Counts counts;
    count_all(v, n, digits, counts);
    uint32_t* src = v;
    uint32_t* dst = scratch;
    for (int d = 0; d < digits.count; ++d) {
        if (!separates(counts, digits, d, n)) continue;
        size_t* at = counts.data() + digits.offset[d];
        size_t next = 0;
        for (size_t b = 0; b < digits.size(d); ++b) next += std::exchange(at[b], next);
        for (size_t i = 0; i < n; ++i) dst[counts[digits.slot(key_of(src[i]), d)]++] = src[i];
        std::swap(src, dst);
    }
    if (src != v) std::memcpy(v, src, n * sizeof(uint32_t));
}

// As sort_low_serial with every pool thread: each pass counts and scatters part by part, the
// parts' offsets laid out in part order.
void sort_low_parallel(uint32_t* v, uint32_t* scratch, size_t n, size_t threads) {
    const Digits& digits = kWide;
    const Parts parts(n, threads);
    std::vector<Counts> counts(parts.count());
    parts.run([&](size_t p, size_t lo, size_t hi) { count_all(v + lo, hi - lo, digits, counts[p]); });
    Counts totals{};
    for (const Counts& c : counts)
        for (size_t i = 0; i < digits.counters; ++i) totals[i] += c[i];

    uint32_t* src = v;
    uint32_t* dst = scratch;
    bool first = true;
    for (int d = 0; d < digits.count; ++d) {
        if (!separates(totals, digits, d, n)) continue;
        const size_t offset = digits.offset[d];
        if (!first) {
            // The parts now hold other values: count this digit again.
            parts.run([&](size_t p, size_t lo, size_t hi) {
                size_t* c = counts[p].data() + offset;
                std::fill_n(c, digits.size(d), 0);
                for (size_t i = lo; i < hi; ++i) ++c[(key_of(src[i]) >> digits.shift[d]) & digits.mask[d]];
            });
        }
        first = false;
        size_t next = 0;
        for (size_t b = offset; b < offset + digits.size(d); ++b)
            for (Counts& c : counts) next += std::exchange(c[b], next);
        parts.run([&](size_t p, size_t lo, size_t hi) {
            Counts& at = counts[p];
            for (size_t i = lo; i < hi; ++i) dst[at[digits.slot(key_of(src[i]), d)]++] = src[i];
        });
        std::swap(src, dst);
    }
    if (src != v)
        parts.run([&](size_t, size_t lo, size_t hi) {
            std::memcpy(v + lo, src + lo, (hi - lo) * sizeof(uint32_t));
        });
}

void sort(const uint32_t* in, uint32_t* out, size_t n, size_t threads) {
    // Distribute by the top bits, part by part in part order.
    const Parts parts(n, threads);
    std::vector<std::array<size_t, kTopBuckets>> at(parts.count());
    parts.run([&](size_t p, size_t lo, size_t hi) {
        auto& c = at[p];
        c.fill(0);
        for (size_t i = lo; i < hi; ++i) ++c[top_of(key_of(in[i]))];
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
        for (size_t i = lo; i < hi; ++i) out[pos[top_of(key_of(in[i]))]++] = in[i];
    });

    // Sort each bucket on the low bits, largest first so the tail of the work is small pieces.
    std::vector<size_t> buckets;
    for (size_t b = 0; b < kTopBuckets; ++b)
        if (bucket_begin[b + 1] - bucket_begin[b] > 1) buckets.push_back(b);
    auto size_of = [&](size_t b) { return bucket_begin[b + 1] - bucket_begin[b]; };
    std::sort(buckets.begin(), buckets.end(),
              [&](size_t a, size_t b) { return size_of(a) > size_of(b); });
    AlignedBuffer scratch_buffer = AlignedBuffer::uninit(n * sizeof(uint32_t));
    uint32_t* scratch = scratch_buffer.as<uint32_t>();
    const size_t fair_share = n / threads;
    auto sort_bucket = [&](size_t b) {
        const size_t lo = bucket_begin[b];
        const size_t size = size_of(b);
        if (threads > 1 && size > fair_share && size > 2 * kMinPart)
            sort_low_parallel(out + lo, scratch + lo, size, threads);
        else
            sort_low_serial(out + lo, scratch + lo, size);
    };
    if (threads == 1) {
        for (size_t b : buckets) sort_bucket(b);
        return;
    }
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, buckets.size(), 1),
        [&](const tbb::blocked_range<size_t>& r) {
            for (size_t i = r.begin(); i < r.end(); ++i) sort_bucket(buckets[i]);
        },
        tbb::simple_partitioner());
}

}  // namespace

void parallel_sort_f32(std::span<const float> in, std::span<float> out) {
    const size_t n = in.size();
    if (n == 0) return;
    tbb::task_arena& arena = general_arena();
    const auto threads = static_cast<size_t>(arena.max_concurrency());
    arena.execute([&] {
        sort(reinterpret_cast<const uint32_t*>(in.data()), reinterpret_cast<uint32_t*>(out.data()),
             n, threads);
    });
}

}  // namespace tessra::pool
