#include "ops/random.hpp"

#include <bit>
#include <cmath>
#include <type_traits>

#include "scheduler/pool.hpp"

namespace tessra {

// ---- generators ----------------------------------------------------------------------------

Pcg64::Pcg64(uint64_t seed) {
    // Eight PCG32 output words, little-endian, give the 32 seed bytes: state, then increment.
    uint64_t words[4];
    uint64_t s = seed;
    for (int w = 0; w < 8; ++w) {
        s = s * 6364136223846793005ull + 11634580027462260723ull;
        const uint32_t xorshifted = static_cast<uint32_t>(((s >> 18) ^ s) >> 27);
        const unsigned rot = static_cast<unsigned>(s >> 59);
        const uint32_t out = (xorshifted >> rot) | (xorshifted << ((32 - rot) & 31));
        if (w % 2 == 0)
            words[w / 2] = out;
        else
            words[w / 2] |= uint64_t{out} << 32;
    }
    state_ = (static_cast<u128>(words[1]) << 64) | words[0];
    increment_ = ((static_cast<u128>(words[3]) << 64) | words[2]) | 1;
    state_ += increment_;
    step();
}

void Pcg64::advance(uint64_t delta) {
    // Composes the affine step with itself by squaring: O(log delta).
    u128 mult = 1, plus = 0;
    u128 cur_mult = kMultiplier, cur_plus = increment_;
    for (; delta > 0; delta >>= 1) {
        if (delta & 1) {
            mult *= cur_mult;
            plus = plus * cur_mult + cur_plus;
        }
        cur_plus = (cur_mult + 1) * cur_plus;
        cur_mult *= cur_mult;
    }
    state_ = mult * state_ + plus;
}

namespace {

uint64_t splitmix64(uint64_t& s) {
    s += 0x9E3779B97F4A7C15ull;
    uint64_t z = s;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

Xoshiro256pp::Xoshiro256pp(uint64_t seed) {
    for (uint64_t& word : s_) word = splitmix64(seed);
    // An all-zero state would only ever yield zeros.
    if (s_ == std::array<uint64_t, 4>{}) *this = Xoshiro256pp(0);
}

// ---- ziggurat ------------------------------------------------------------------------------

namespace {

constexpr double kR = 3.654152885361009;
constexpr double kLayerArea = 0.00492867323399;

// [2, 4) exponent with the top 52 bits of `bits` as mantissa, minus 3: a value in [-1, 1).
double signed_unit(uint64_t bits) {
    return std::bit_cast<double>(0x4000000000000000ull | (bits >> 12)) - 3.0;
}

// A value strictly between 0 and 1.
template <class Rng>
double open01(Rng& rng) {
    return std::bit_cast<double>(0x3FF0000000000000ull | (rng.next_u64() >> 12)) - (1.0 - 0x1p-53);
}

ZigguratTables make_tables() {
    ZigguratTables t;
    t.x[0] = kLayerArea / std::exp(-kR * kR / 2.0);
    t.x[1] = kR;
    for (int i = 1; i < 255; ++i)
        t.x[i + 1] = std::sqrt(-2.0 * std::log(std::exp(-t.x[i] * t.x[i] / 2.0) + kLayerArea / t.x[i]));
    t.x[256] = 0.0;
    for (int i = 0; i < 257; ++i) t.f[i] = std::exp(-t.x[i] * t.x[i] / 2.0);
    return t;
}

}  // namespace

const ZigguratTables& ziggurat_tables() {
    static const ZigguratTables tables = make_tables();
    return tables;
}

namespace {

// Uniform values in [0, 1): the top 24 bits of next_u32, scaled (exact in single precision).
struct Uniform {
    template <class Rng>
    static float draw(Rng& rng) {
        return static_cast<float>(rng.next_u32() >> 8) * 0x1p-24f;
    }

    template <class Rng>
    void operator()(Rng rng, float* out, uint64_t count) const {
        if constexpr (std::is_same_v<Rng, Pcg64>) {
            // One PCG step waits for the last: four lanes, each the stream jumped ahead to its
            // quarter of the chunk, keep the multiplier busy and write the same values.
            constexpr uint64_t kLanes = 4;
            if (count >= 64 * kLanes) {
                const uint64_t quarter = count / kLanes;
                Pcg64 lane[kLanes] = {rng, rng, rng, rng};
                for (uint64_t j = 1; j < kLanes; ++j) lane[j].advance(j * quarter);
                for (uint64_t i = 0; i < quarter; ++i)
                    for (uint64_t j = 0; j < kLanes; ++j) out[j * quarter + i] = draw(lane[j]);
                for (uint64_t i = kLanes * quarter; i < count; ++i) out[i] = draw(lane[kLanes - 1]);
                return;
            }
        }
        for (uint64_t i = 0; i < count; ++i) out[i] = draw(rng);
    }
};

// Standard normal value by the ziggurat, in double precision, narrowed to single.
struct Normal {
    const ZigguratTables& t = ziggurat_tables();

    template <class Rng>
    void operator()(Rng rng, float* out, uint64_t count) const {
        for (uint64_t i = 0; i < count; ++i) out[i] = static_cast<float>(draw(rng));
    }

    template <class Rng>
    double draw(Rng& rng) const {
        for (;;) {
            const uint64_t bits = rng.next_u64();
            const size_t i = bits & 0xFF;
            const double u = signed_unit(bits);
            const double x = u * t.x[i];
            if (std::abs(x) < t.x[i + 1]) [[likely]]
                return x;
            if (i == 0) return tail(rng, u);
            const double f = static_cast<double>(rng.next_u64() >> 11) * 0x1p-53;
            if (t.f[i + 1] + (t.f[i] - t.f[i + 1]) * f < std::exp(-x * x / 2.0)) return x;
        }
    }

    // Beyond the base layer: a value past R, on the side of u.
    template <class Rng>
    static double tail(Rng& rng, double u) {
        double x, y;
        do {
            x = std::log(open01(rng)) / kR;
            y = std::log(open01(rng));
        } while (-2.0 * y < x * x);
        return u >= 0.0 ? kR - x : x - kR;
    }
};

}  // namespace

// ---- fills ---------------------------------------------------------------------------------

namespace {

template <class Draw>
Result<CoreArray> fill(Shape shape, uint64_t seed, RngAlgorithm algo, const Draw& draw) {
    Result<CoreArray> made = zeroed(std::move(shape));
    if (!made) return made;
    CoreArray& r = made.value();
    const uint64_t n = r.element_count();
    if (n == 0) return made;
    // One chunk per pool thread, so the values depend on the pool's size.
    const uint64_t len = pool::grain_for(n, 1, 1);
    float* out = r.f32();
    pool::parallel_for(n, len, [&](size_t begin, size_t end) {
        const uint64_t chunk_seed = seed + begin / len;  // wraps
        if (algo == RngAlgorithm::PCG64)
            draw(Pcg64(chunk_seed), out + begin, end - begin);
        else
            draw(Xoshiro256pp(chunk_seed), out + begin, end - begin);
    });
    return made;
}

}  // namespace

Result<CoreArray> random_uniform_f32(Shape shape, uint64_t seed, RngAlgorithm algo) {
    return fill(std::move(shape), seed, algo, Uniform{});
}

Result<CoreArray> random_normal_f32(Shape shape, uint64_t seed, RngAlgorithm algo) {
    return fill(std::move(shape), seed, algo, Normal{});
}

}  // namespace tessra
