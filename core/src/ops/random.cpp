#include "ops/random.hpp"

#include <bit>
#include <cmath>

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

template <class Rng>
double normal_f64(Rng& rng) {
    const ZigguratTables& t = ziggurat_tables();
    for (;;) {
        const uint64_t bits = rng.next_u64();
        const size_t i = bits & 0xFF;
        const double u = signed_unit(bits);
        const double x = u * t.x[i];
        if (std::abs(x) < t.x[i + 1]) return x;
        if (i == 0) {
            // Beyond the base layer: the tail past R.
            double tx, ty;
            do {
                tx = std::log(open01(rng)) / kR;
                ty = std::log(open01(rng));
            } while (-2.0 * ty < tx * tx);
            return u >= 0.0 ? kR - tx : tx - kR;
        }
        const double f = static_cast<double>(rng.next_u64() >> 11) * 0x1p-53;
        if (t.f[i + 1] + (t.f[i] - t.f[i + 1]) * f < std::exp(-x * x / 2.0)) return x;
    }
}

template double normal_f64<Pcg64>(Pcg64&);
template double normal_f64<Xoshiro256pp>(Xoshiro256pp&);

// ---- fills ---------------------------------------------------------------------------------

namespace {

template <class Draw>
CoreArray fill(Shape shape, uint64_t seed, RngAlgorithm algo, Draw draw) {
    CoreArray r = zeroed(std::move(shape));
    const uint64_t n = r.element_count();
    if (n == 0) return r;
    const uint64_t threads = pool::thread_count();
    const uint64_t len = (n + threads - 1) / threads;
    const uint64_t chunks = (n + len - 1) / len;
    float* out = r.f32();
    pool::parallel_tasks(chunks, [&](size_t c) {
        const uint64_t begin = c * len;
        const uint64_t end = std::min(n, begin + len);
        const uint64_t chunk_seed = seed + c;  // wraps
        auto run = [&](auto rng) {
            for (uint64_t i = begin; i < end; ++i) out[i] = draw(rng);
        };
        if (algo == RngAlgorithm::PCG64)
            run(Pcg64(chunk_seed));
        else
            run(Xoshiro256pp(chunk_seed));
    });
    return r;
}

}  // namespace

CoreArray random_uniform_f32(Shape shape, uint64_t seed, RngAlgorithm algo) {
    return fill(std::move(shape), seed, algo, [](auto& rng) { return uniform_f32(rng); });
}

CoreArray random_normal_f32(Shape shape, uint64_t seed, RngAlgorithm algo) {
    return fill(std::move(shape), seed, algo,
                [](auto& rng) { return static_cast<float>(normal_f64(rng)); });
}

}  // namespace tessra
