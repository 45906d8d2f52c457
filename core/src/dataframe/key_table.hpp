#pragma once
// The open-addressing table of groupby and join for 32-bit keys (Float32 keys by bit pattern,
// Int32 keys by value): a slot holds a key and a 32-bit value, and a probe walks forward from
// the key's home slot to the key or to a free slot. Kept at most half full, where a general
// map's lookup costs several times as much per row.
#include <algorithm>
#include <cstdint>

namespace tessra {

// Multiplicative hash: its top bits mix every bit of the key, so keys that differ only in low
// bits (integers) or only in high bits (floats) spread alike.
inline uint64_t key_hash(uint32_t key) { return uint64_t{key} * 0x9E3779B97F4A7C15ull; }

struct KeySlot {
    static constexpr uint32_t kFree = ~uint32_t{0};
    uint32_t key;
    uint32_t value;  // kFree in a free slot
};

// 2^bits slots held elsewhere. The top `skip` bits of the hash stay out of the home slot: they
// chose this table among others (join's partitions), so they are the same for all its keys.
class KeyTable {
public:
    KeyTable() = default;
    KeyTable(KeySlot* slots, int bits, int skip = 0) : slots_(slots), bits_(bits), skip_(skip) {}

    uint64_t size() const { return uint64_t{1} << bits_; }
    int bits() const { return bits_; }
    KeySlot* begin() const { return slots_; }
    KeySlot* end() const { return slots_ + size(); }
    void clear() const { std::fill(begin(), end(), KeySlot{0, KeySlot::kFree}); }

    // The slot holding `key`, or the free slot that ends its probe sequence.
    KeySlot& probe(uint32_t key) const {
        const uint64_t mask = size() - 1;
        uint64_t i = home(key);
        while (slots_[i].value != KeySlot::kFree && slots_[i].key != key) i = (i + 1) & mask;
        return slots_[i];
    }
    void prefetch(uint32_t key) const { __builtin_prefetch(slots_ + home(key)); }

private:
    uint64_t home(uint32_t key) const { return (key_hash(key) << skip_) >> (64 - bits_); }

    KeySlot* slots_ = nullptr;
    int bits_ = 0;
    int skip_ = 0;
};

}  // namespace tessra
