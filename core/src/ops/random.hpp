#pragma once
// Seeded random fills and the two generators behind them.
#include <array>
#include <cstdint>

#include "array/core_array.hpp"

namespace tessra {

__extension__ using u128 = unsigned __int128;

enum class RngAlgorithm : uint8_t { PCG64 = 0, Xoshiro256PP = 1 };

// PCG XSL-RR 128/64: 128-bit LCG, 64-bit output.
class Pcg64 {
public:
    explicit Pcg64(uint64_t seed);
    uint64_t next_u64() {
        step();
        const uint64_t hi = static_cast<uint64_t>(state_ >> 64);
        const uint64_t lo = static_cast<uint64_t>(state_);
        const unsigned rot = static_cast<unsigned>(state_ >> 122);
        return rotr(hi ^ lo, rot);
    }
    uint32_t next_u32() { return static_cast<uint32_t>(next_u64()); }
    // Moves the stream `delta` steps ahead, as that many next_u64 calls would.
    void advance(uint64_t delta);

private:
    static constexpr u128 kMultiplier =
        (static_cast<u128>(0x2360ED051FC65DA4ull) << 64) | 0x4385DF649FCCF645ull;
    static uint64_t rotr(uint64_t x, unsigned r) { return (x >> r) | (x << ((64 - r) & 63)); }
    void step() { state_ = state_ * kMultiplier + increment_; }

    u128 state_;
    u128 increment_;
};

// xoshiro256++, seeded through SplitMix64.
class Xoshiro256pp {
public:
    explicit Xoshiro256pp(uint64_t seed);
    uint64_t next_u64() {
        uint64_t* s = s_.data();
        const uint64_t result = rotl(s[0] + s[3], 23) + s[0];
        const uint64_t t = s[1] << 17;
        s[2] ^= s[0];
        s[3] ^= s[1];
        s[1] ^= s[2];
        s[0] ^= s[3];
        s[2] ^= t;
        s[3] = rotl(s[3], 45);
        return result;
    }
    uint32_t next_u32() { return static_cast<uint32_t>(next_u64() >> 32); }

private:
    static uint64_t rotl(uint64_t x, unsigned r) { return (x << r) | (x >> (64 - r)); }
    std::array<uint64_t, 4> s_;
};

// Edges and heights of the 256-layer standard normal ziggurat, 257 entries each.
struct ZigguratTables {
    double x[257];
    double f[257];
};
const ZigguratTables& ziggurat_tables();

// Arrays of `shape` filled chunk by chunk on the general pool: one chunk per pool thread,
// chunk c drawn from a generator seeded with seed + c.
Result<CoreArray> random_uniform_f32(Shape shape, uint64_t seed, RngAlgorithm algo);
Result<CoreArray> random_normal_f32(Shape shape, uint64_t seed, RngAlgorithm algo);

}  // namespace tessra
