#include "sort/stable_sort.hpp"

#include <algorithm>
#include <memory>
#include <numeric>

#include "sort/float_order.hpp"
#include "sort/parallel_sort.hpp"
#include "sort/radix.hpp"

namespace tessra {

namespace {

// Up to this many packed items a comparison sort beats clearing and walking the radix counters.
constexpr uint64_t kPackedCompareMax = 256;

// Calls emit(r, p) for r = 0 .. n-1, p being the position whose key(p) is r-th in order;
// equal keys in ascending position order.
template <class KeyAt, class Emit>
void for_each_in_order(uint64_t n, KeyAt key_at, Emit emit) {
    if (n <= kInsertionSortMax) {
        uint32_t pos[kInsertionSortMax];
        std::iota(pos, pos + n, uint32_t{0});
        insertion_sort(pos, n, key_at);
        for (uint64_t i = 0; i < n; ++i) emit(i, uint64_t{pos[i]});
        return;
    }
    if (n > UINT32_MAX) {
        // Positions no longer fit beside the key in one word.
        std::vector<uint64_t> pos(n);
        std::iota(pos.begin(), pos.end(), uint64_t{0});
        std::stable_sort(pos.begin(), pos.end(),
                         [&](uint64_t a, uint64_t b) { return key_at(a) < key_at(b); });
        for (uint64_t i = 0; i < n; ++i) emit(i, pos[i]);
        return;
    }
    // Items are key << 32 | position: sorting them by the high word moves key and position at once.
    auto items = std::make_unique_for_overwrite<uint64_t[]>(2 * n);
    uint64_t* a = items.get();
    uint64_t* b = a + n;
    for (uint64_t i = 0; i < n; ++i) a[i] = uint64_t{key_at(i)} << 32 | i;
    const uint64_t* sorted = a;
    if (n <= kPackedCompareMax) {
        // Items are distinct, so a plain sort of them is stable too.
        std::sort(a, a + n);
    } else {
        auto high = [](uint64_t item) { return static_cast<uint32_t>(item >> 32); };
        RadixPlan<kByteDigits> plan = radix_plan<kByteDigits>(a, n, high);
        sorted = radix_run(plan, a, b, a, n, high);
    }
    for (uint64_t i = 0; i < n; ++i) emit(i, sorted[i] & 0xFFFFFFFFu);
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

std::vector<uint64_t> stable_order(const uint32_t* keys, uint64_t n, bool int_keys) {
    std::vector<uint64_t> out(n);
    auto emit = [&](uint64_t i, uint64_t p) { out[i] = p; };
    if (int_keys)
        for_each_in_order(n, [&](uint64_t p) { return int_bits_order_key(keys[p]); }, emit);
    else
        for_each_in_order(n, [&](uint64_t p) { return float_bits_order_key(keys[p]); }, emit);
    return out;
}

}  // namespace tessra
