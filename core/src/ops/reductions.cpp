#include "ops/reductions.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "sort/float_order.hpp"

namespace tessra {

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

std::span<const float> values(const CoreArray& a) { return a.f32_span(); }

// The checks every method shares, in their fixed order: element type, then empty input for
// the methods that need a value (`empty_word` names it in the message).
std::optional<Error> refuse(const CoreArray& a, const char* method, const char* empty_word) {
    if (!a.is_f32()) return type_error(std::string(method) + "() requires Float32");
    if (empty_word != nullptr && a.element_count() == 0)
        return value_error(std::string(empty_word) + " of empty array");
    return std::nullopt;
}

// ---- strictly ordered chains ----------------------------------------------------------------
// Each loop carries one accumulator from the first value to the last: the add (or multiply)
// latency is the whole cost, everything else runs beside it.

float chain_sum(std::span<const float> x) {
    float acc = -0.0f;
    for (float v : x) acc += v;
    return acc;
}

float chain_prod(std::span<const float> x) {
    float acc = 1.0f;
    for (float v : x) acc *= v;
    return acc;
}

// x, or -0.0 when x is NaN. Adding -0.0 leaves every accumulator bit-for-bit unchanged, so the
// select replaces the skip without a branch on the data.
inline float or_identity(float x) {
    uint32_t keep = 0u - static_cast<uint32_t>(x == x);
    uint32_t bits = (std::bit_cast<uint32_t>(x) & keep) | (0x80000000u & ~keep);
    return std::bit_cast<float>(bits);
}

float chain_nansum(std::span<const float> x, uint64_t* count) {
    float acc = -0.0f;
    uint64_t kept = 0;
    for (float v : x) {
        acc += or_identity(v);
        kept += (v == v);
    }
    if (count) *count = kept;
    return acc;
}

float mean_of(std::span<const float> x) { return chain_sum(x) / static_cast<float>(x.size()); }

float variance_of(std::span<const float> x) {
    const float m = mean_of(x);
    float acc = -0.0f;
    for (float v : x) {
        float d = v - m;
        acc += d * d;
    }
    return acc / static_cast<float>(x.size());
}

template <class Step>
CoreArray running(const CoreArray& a, float acc, Step step) {
    CoreArray out = uninit(a.shape);
    std::span<const float> x = values(a);
    float* y = out.f32();
    for (size_t i = 0; i < x.size(); ++i) {
        acc = step(acc, x[i]);
        y[i] = acc;
    }
    return out;
}

}  // namespace

// ---- order-free scans, vectorised ---------------------------------------------------------------

namespace kernels {

namespace {

using v4f = float __attribute__((vector_size(16)));
using v4u = uint32_t __attribute__((vector_size(16)));

inline v4f load4(const float* p) {
    v4f v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// maxNum / minNum of an accumulator that is never NaN and a value x: a NaN x leaves acc.
template <bool Max>
inline float pick(float acc, float x) {
    return Max ? max_num(acc, x) : min_num(acc, x);
}
template <bool Max>
inline v4f pick(v4f acc, v4f x) {
    return Max ? max_num<v4f, v4u>(acc, x) : min_num<v4f, v4u>(acc, x);
}

// The extreme of the non-NaN values (-inf for max, +inf for min when there are none).
// Extremes of a total order on non-NaN values do not depend on the order of the scan.
template <bool Max>
float nan_extreme(const float* p, size_t n) {
    constexpr float init = Max ? -kInf : kInf;
    const v4f start = {init, init, init, init};
    v4f a0 = start, a1 = start, a2 = start, a3 = start;
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        a0 = pick<Max>(a0, load4(p + i));
        a1 = pick<Max>(a1, load4(p + i + 4));
        a2 = pick<Max>(a2, load4(p + i + 8));
        a3 = pick<Max>(a3, load4(p + i + 12));
    }
    a0 = pick<Max>(pick<Max>(a0, a1), pick<Max>(a2, a3));
    float acc = init;
    for (int lane = 0; lane < 4; ++lane) acc = pick<Max>(acc, a0[lane]);
    for (; i < n; ++i) acc = pick<Max>(acc, p[i]);
    return acc;
}

// Position of the first extreme, as the strict left-to-right scan finds it. Blocks are scanned
// for their extreme; only a block that beats the best so far is searched again (from L1) for
// the first position holding it.
template <bool Max>
uint64_t arg_extreme(std::span<const float> x) {
    constexpr size_t kBlock = 2048;
    const float* p = x.data();
    const size_t n = x.size();
    float best = p[0];
    uint64_t at = 0;
    if (best != best) return 0;  // a NaN first is never beaten
    for (size_t b = 1; b < n; b += kBlock) {
        const size_t len = std::min(kBlock, n - b);
        const float m = nan_extreme<Max>(p + b, len);
        if (Max ? m > best : m < best) {
            size_t i = b;
            while (!(p[i] == m)) ++i;
            best = m;
            at = i;
        }
    }
    return at;
}

}  // namespace

float nanmax(std::span<const float> x) { return nan_extreme<true>(x.data(), x.size()); }
float nanmin(std::span<const float> x) { return nan_extreme<false>(x.data(), x.size()); }
uint64_t argmax(std::span<const float> x) { return arg_extreme<true>(x); }
uint64_t argmin(std::span<const float> x) { return arg_extreme<false>(x); }

}  // namespace kernels

// ---- methods ------------------------------------------------------------------------------------

Result<float> reduce_sum(const CoreArray& a) {
    if (auto e = refuse(a, "sum", nullptr)) return *e;
    return chain_sum(values(a));
}

Result<float> reduce_mean(const CoreArray& a) {
    if (auto e = refuse(a, "mean", "mean")) return *e;
    return mean_of(values(a));
}

Result<float> reduce_var(const CoreArray& a) {
    if (auto e = refuse(a, "var", "var")) return *e;
    return variance_of(values(a));
}

Result<float> reduce_std_dev(const CoreArray& a) {
    if (auto e = refuse(a, "std_dev", "std")) return *e;
    return std::sqrt(variance_of(values(a)));
}

Result<float> reduce_prod(const CoreArray& a) {
    if (auto e = refuse(a, "prod", nullptr)) return *e;
    return chain_prod(values(a));
}

Result<float> reduce_nansum(const CoreArray& a) {
    if (auto e = refuse(a, "nansum", nullptr)) return *e;
    return chain_nansum(values(a), nullptr);
}

Result<float> reduce_nanmean(const CoreArray& a) {
    if (auto e = refuse(a, "nanmean", nullptr)) return *e;
    uint64_t count = 0;
    float acc = chain_nansum(values(a), &count);
    const float mean = acc / static_cast<float>(count);
    // Every NaN here stands for "no values" or is made by the arithmetic (never an input's):
    // the positive quiet NaN.
    return count == 0 || mean != mean ? std::numeric_limits<float>::quiet_NaN() : mean;
}

Result<float> reduce_nanmax(const CoreArray& a) {
    if (auto e = refuse(a, "nanmax", nullptr)) return *e;
    return kernels::nanmax(values(a));
}

Result<float> reduce_nanmin(const CoreArray& a) {
    if (auto e = refuse(a, "nanmin", nullptr)) return *e;
    return kernels::nanmin(values(a));
}

Result<uint64_t> reduce_argmax(const CoreArray& a) {
    if (auto e = refuse(a, "argmax", "argmax")) return *e;
    if (a.ndim() == 0) return uint64_t{0};
    return kernels::argmax(values(a));
}

Result<uint64_t> reduce_argmin(const CoreArray& a) {
    if (auto e = refuse(a, "argmin", "argmin")) return *e;
    if (a.ndim() == 0) return uint64_t{0};
    return kernels::argmin(values(a));
}

Result<CoreArray> cumsum(const CoreArray& a) {
    if (auto e = refuse(a, "cumsum", nullptr)) return *e;
    return running(a, 0.0f, [](float acc, float x) { return acc + x; });
}

Result<CoreArray> cumprod(const CoreArray& a) {
    if (auto e = refuse(a, "cumprod", nullptr)) return *e;
    return running(a, 1.0f, [](float acc, float x) { return acc * x; });
}

}  // namespace tessra
