#pragma once
// Stable sorts by the orders of float_order.hpp: sorted floats, and the positions that sort a
// list of keys. Equivalent values keep their input order, so the result does not depend on
// which method ran.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "array/aligned_buffer.hpp"

namespace tessra {

// Largest count sorted by insertion, and largest count `sort_f32` sorts on the calling thread.
inline constexpr uint64_t kInsertionSortMax = 20;
inline constexpr uint64_t kSerialSortMax = 100'000;

// Writes the n floats of `in` to `out` (no overlap) in ascending float order: insertion sort
// up to kInsertionSortMax values, a radix sort above that, on the general pool above
// kSerialSortMax.
void sort_f32(const float* in, float* out, size_t n);

// Writes the positions 0 .. n-1 of `v` in ascending float order, as floats, to `out`. Always
// on the calling thread.
void argsort_f32(const float* v, float* out, size_t n);

// Positions 0 .. n-1 sorted by `keys` (32-bit patterns): float keys by value, int keys by
// signed value. On the general pool above kSerialSortMax keys.
std::vector<uint64_t> stable_order(const uint32_t* keys, uint64_t n, bool int_keys);

// The positions of stable_order, each in the low 32 bits of an item whose high bits hold the
// order of its key. Items live in reused pages (AlignedBuffer::reused).
struct PackedOrder {
    AlignedBuffer storage;
    const uint64_t* items = nullptr;  // n items inside `storage`
    uint64_t position(uint64_t i) const { return items[i] & 0xFFFFFFFFu; }
};
// Largest count whose positions fit beside their keys.
inline constexpr uint64_t kPackedOrderMax = UINT32_MAX;
// The order of stable_order for n <= kPackedOrderMax keys.
PackedOrder packed_order(const uint32_t* keys, uint64_t n, bool int_keys);

}  // namespace tessra
