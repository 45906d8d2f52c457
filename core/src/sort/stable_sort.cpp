#include "sort/stable_sort.hpp"

#include <algorithm>
#include <memory>
#include <numeric>

#include "scheduler/pool.hpp"
#include "sort/float_order.hpp"
#include "sort/parallel_sort.hpp"
#include "sort/radix.hpp"

namespace tessra {

namespace {

// Up to this many packed items a comparison sort beats clearing and walking the radix counters.
constexpr uint64_t kPackedCompareMax = 256;

// Items are key << 32 | position: sorting them by the high word moves key and position at once.
// With `pooled`, more than kSerialSortMax items are sorted on the general pool.
template <class KeyAt>
PackedOrder sorted_items(uint64_t n, KeyAt key_at, bool pooled) {
    PackedOrder order;
    order.storage = AlignedBuffer::reused(2 * n * sizeof(uint64_t));
    uint64_t* a = order.storage.as<uint64_t>();
    uint64_t* b = a + n;
    order.items = a;
    if (pooled && n > kSerialSortMax) {
        pool::parallel_for(n, pool::kRowChunk, [&](size_t lo, size_t hi) {
            for (size_t i = lo; i < hi; ++i) a[i] = uint64_t{key_at(i)} << 32 | i;
        });
        order.items = parallel_sort_packed(a, b, n);
        return order;
    }
    for (uint64_t i = 0; i < n; ++i) a[i] = uint64_t{key_at(i)} << 32 | i;
    if (n <= kPackedCompareMax) {
        // Items are distinct, so a plain sort of them is stable too.
        std::sort(a, a + n);
    } else {
        auto high = [](uint64_t item) { return static_cast<uint32_t>(item >> 32); };
        RadixPlan<kByteDigits> plan = radix_plan<kByteDigits>(a, n, high);
        order.items = radix_run(plan, a, b, a, n, high);
    }
    return order;
}

// Calls emit(r, p) for r = 0 .. n-1, p being the position whose key(p) is r-th in order;
// equal keys in ascending position order. With `pooled`, more than kSerialSortMax keys are
// ordered on the general pool, and key_at and emit are called from its threads.
template <class KeyAt, class Emit>
void for_each_in_order(uint64_t n, KeyAt key_at, Emit emit, bool pooled = false) {
    if (n <= kInsertionSortMax) {
        uint32_t pos[kInsertionSortMax];
        std::iota(pos, pos + n, uint32_t{0});
        insertion_sort(pos, n, key_at);
        for (uint64_t i = 0; i < n; ++i) emit(i, uint64_t{pos[i]});
        return;
    }
    if (n > kPackedOrderMax) {
        // Positions no longer fit beside the key in one word.
        std::vector<uint64_t> pos(n);
        std::iota(pos.begin(), pos.end(), uint64_t{0});
        std::stable_sort(pos.begin(), pos.end(),
                         [&](uint64_t a, uint64_t b) { return key_at(a) < key_at(b); });
        for (uint64_t i = 0; i < n; ++i) emit(i, pos[i]);
        return;
    }
    PackedOrder order = sorted_items(n, key_at, pooled);
    if (pooled && n > kSerialSortMax) {
        pool::parallel_for(n, pool::kRowChunk, [&](size_t lo, size_t hi) {
            for (size_t i = lo; i < hi; ++i) emit(i, order.position(i));
        });
        return;
    }
    for (uint64_t i = 0; i < n; ++i) emit(i, order.position(i));
}

}  // namespace

void sort_f32(const float* in_f, float* out_f, size_t n) {
    const auto* in = reinterpret_cast<const uint32_t*>(in_f);
    auto* out = reinterpret_cast<uint32_t*>(out_f);
    if (n <= kInsertionSortMax) {
        std::copy(in, in + n, out);
        insertion_sort(out, n, FloatBitsKey{});
    } else if (n <= kSerialSortMax) {
        auto scratch = std::make_unique_for_overwrite<uint32_t[]>(n);
        RadixPlan<kByteDigits> plan = radix_plan<kByteDigits>(in, n, FloatBitsKey{});
        // Start so that the last pass lands in `out`.
        const bool odd = plan.count % 2 == 1;
        const uint32_t* sorted = radix_run(plan, in, odd ? out : scratch.get(),
                                           odd ? scratch.get() : out, n, FloatBitsKey{});
        if (sorted != out) std::copy(sorted, sorted + n, out);
    } else {
        parallel_sort_f32(in_f, out_f, n);
    }
}

void argsort_f32(const float* v, float* out, size_t n) {
    for_each_in_order(
        n, [&](uint64_t p) { return float_order_key(v[p]); },
        [&](uint64_t i, uint64_t p) { out[i] = static_cast<float>(p); });
}

PackedOrder packed_order(const uint32_t* keys, uint64_t n, bool int_keys) {
    if (int_keys) return sorted_items(n, [&](uint64_t p) { return int_bits_order_key(keys[p]); }, true);
    return sorted_items(n, [&](uint64_t p) { return float_bits_order_key(keys[p]); }, true);
}

std::vector<uint64_t> stable_order(const uint32_t* keys, uint64_t n, bool int_keys) {
    std::vector<uint64_t> out(n);
    auto emit = [&](uint64_t i, uint64_t p) { out[i] = p; };
    if (int_keys)
        for_each_in_order(n, [&](uint64_t p) { return int_bits_order_key(keys[p]); }, emit, true);
    else
        for_each_in_order(n, [&](uint64_t p) { return float_bits_order_key(keys[p]); }, emit, true);
    return out;
}

}  // namespace tessra
