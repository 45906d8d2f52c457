// sort and argsort. Every method sorts stably by float_order_key, so the result does not depend
// on which method ran: insertion up to 20 values, a radix sort on the calling thread above that,
// and for `sort` above 100,000 values the radix sort on the general pool.
#include "array/sort.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "scheduler/parallel_sort.hpp"
#include "scheduler/pool.hpp"

namespace tessra {

namespace {

// Stable LSD radix sort by a 32-bit key, 8 bits a pass. The plan counts every digit in one
// read, so a digit every key shares is never scattered.
struct RadixPlan {
    std::array<std::array<size_t, 256>, 4> counts{};
    int passes[4];
    int count = 0;
};

template <class T, class Key>
RadixPlan radix_plan(const T* in, size_t n, Key key) {
    RadixPlan plan;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t k = key(in[i]);
        for (int d = 0; d < 4; ++d) ++plan.counts[d][(k >> (8 * d)) & 0xFF];
    }
    for (int d = 0; d < 4; ++d) {
        const auto& c = plan.counts[d];
        if (*std::max_element(c.begin(), c.end()) != n) plan.passes[plan.count++] = d;
    }
    return plan;
}

// Runs the passes in -> x -> y -> x ...; returns the buffer holding the result (in when there
// is no pass). `in` may be `y`, never `x`.
template <class T, class Key>
const T* radix_run(RadixPlan& plan, const T* in, T* x, T* y, size_t n, Key key) {
    const T* src = in;
    T* dst = x;
    for (int j = 0; j < plan.count; ++j) {
        const int shift = 8 * plan.passes[j];
        std::array<size_t, 256>& at = plan.counts[plan.passes[j]];
        size_t next = 0;
        for (size_t& c : at) next += std::exchange(c, next);
        for (size_t i = 0; i < n; ++i) dst[at[(key(src[i]) >> shift) & 0xFF]++] = src[i];
        src = dst;
        dst = dst == x ? y : x;
    }
    return src;
}

uint32_t bits_key(uint32_t bits) { return float_order_key(std::bit_cast<float>(bits)); }

// Reverses v, on the pool when it is large.
void reverse(float* v, size_t n) {
    constexpr size_t kGrain = 1 << 18;
    const size_t half = n / 2;
    if (n <= kSerialSortMax) {
        std::reverse(v, v + n);
        return;
    }
    pool::parallel_for(half, kGrain, [&](size_t lo, size_t hi) {
        for (size_t i = lo; i < hi; ++i) std::swap(v[i], v[n - 1 - i]);
    });
}

// Ascending positions 0 .. n-1 sorted by the values at them, written as floats.
void argsort_into(const float* v, float* out, size_t n) {
    if (n <= kInsertionSortMax) {
        uint32_t pos[kInsertionSortMax];
        for (size_t i = 0; i < n; ++i) pos[i] = static_cast<uint32_t>(i);
        insertion_sort(pos, n, [&](uint32_t p) { return float_order_key(v[p]); });
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(pos[i]);
        return;
    }
    if (n > UINT32_MAX) {
        // Positions no longer fit beside the key in one word.
        std::vector<uint64_t> pos(n);
        for (size_t i = 0; i < n; ++i) pos[i] = i;
        std::stable_sort(pos.begin(), pos.end(), [&](uint64_t a, uint64_t b) {
            return float_order_key(v[a]) < float_order_key(v[b]);
        });
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(pos[i]);
        return;
    }
    // Items are key << 32 | position: sorting them by the high word moves key and position at once.
    auto items = std::make_unique_for_overwrite<uint64_t[]>(2 * n);
    uint64_t* a = items.get();
    uint64_t* b = a + n;
    for (size_t i = 0; i < n; ++i) a[i] = uint64_t{float_order_key(v[i])} << 32 | i;
    auto key = [](uint64_t item) { return static_cast<uint32_t>(item >> 32); };
    RadixPlan plan = radix_plan(a, n, key);
    const uint64_t* sorted = radix_run(plan, a, b, a, n, key);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(static_cast<uint32_t>(sorted[i]));
}

}  // namespace

Result<CoreArray> sort_array(const CoreArray& a, bool descending) {
    if (!a.is_f32()) return type_error("sort() currently only supports Float32");
    const size_t n = a.element_count();
    CoreArray r = uninit(a.shape);
    if (n == 0) return r;
    const auto* in = reinterpret_cast<const uint32_t*>(a.f32());
    auto* out = reinterpret_cast<uint32_t*>(r.f32());
    if (n <= kInsertionSortMax) {
        std::copy(in, in + n, out);
        insertion_sort(out, n, bits_key);
    } else if (n <= kSerialSortMax) {
        auto scratch = std::make_unique_for_overwrite<uint32_t[]>(n);
        RadixPlan plan = radix_plan(in, n, bits_key);
        // Start so that the last pass lands in `out`.
        const bool odd = plan.count % 2 == 1;
        const uint32_t* sorted =
            radix_run(plan, in, odd ? out : scratch.get(), odd ? scratch.get() : out, n, bits_key);
        if (sorted != out) std::copy(sorted, sorted + n, out);
    } else {
        pool::parallel_sort_f32(a.f32_span(), r.f32_span());
    }
    if (descending) reverse(r.f32(), n);
    return r;
}

Result<CoreArray> argsort_array(const CoreArray& a, bool descending) {
    if (!a.is_f32()) return type_error("argsort() currently only supports Float32");
    const size_t n = a.element_count();
    CoreArray r = uninit(a.shape);
    if (n == 0) return r;
    argsort_into(a.f32(), r.f32(), n);
    if (descending) std::reverse(r.f32(), r.f32() + n);
    return r;
}

}  // namespace tessra
