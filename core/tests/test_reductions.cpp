#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "ops/reductions.hpp"

using namespace tessra;

namespace {

// The one-at-a-time scans the vectorised kernels must agree with.
float scan_extreme(const std::vector<float>& x, bool max) {
    float acc = max ? -INFINITY : INFINITY;
    for (float v : x) {
        if (std::isnan(v)) continue;
        if (max ? v > acc : v < acc) acc = v;
        else if (v == acc && v == 0.0f && std::signbit(acc) == max) acc = v;
    }
    return acc;
}

uint64_t scan_arg(const std::vector<float>& x, bool max) {
    float best = x[0];
    uint64_t at = 0;
    for (size_t i = 1; i < x.size(); ++i)
        if (max ? x[i] > best : x[i] < best) best = x[i], at = i;
    return at;
}

std::vector<float> sample(std::mt19937& rng, size_t n) {
    // Few distinct values so that ties, both zeros, NaN and infinities meet in every block.
    static const float pool[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.0f, NAN, INFINITY, -INFINITY};
    std::uniform_int_distribution<int> pick(0, 7);
    std::vector<float> x(n);
    for (float& v : x) v = pool[pick(rng)];
    return x;
}

}  // namespace

TEST(Reductions, VectorisedScansMatchTheSequentialScan) {
    std::mt19937 rng(42);
    for (size_t n : {0, 1, 2, 3, 15, 16, 17, 31, 64, 65, 2047, 2048, 2049, 2050, 4097, 9000}) {
        for (int round = 0; round < 20; ++round) {
            std::vector<float> x = sample(rng, n);
            EXPECT_EQ(std::bit_cast<uint32_t>(kernels::nanmax(x)), std::bit_cast<uint32_t>(scan_extreme(x, true))) << n;
            EXPECT_EQ(std::bit_cast<uint32_t>(kernels::nanmin(x)), std::bit_cast<uint32_t>(scan_extreme(x, false))) << n;
            if (n == 0) continue;
            EXPECT_EQ(kernels::argmax(x), scan_arg(x, true)) << n;
            EXPECT_EQ(kernels::argmin(x), scan_arg(x, false)) << n;
        }
    }
}
