#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "sort/stable_sort.hpp"

using namespace tessra;

namespace {

// Positions ordered by a plain comparison of the values, NaN last, as std::stable_sort keeps them.
template <class T>
std::vector<uint64_t> reference_order(const std::vector<T>& v) {
    std::vector<uint64_t> p(v.size());
    std::iota(p.begin(), p.end(), uint64_t{0});
    std::stable_sort(p.begin(), p.end(), [&](uint64_t a, uint64_t b) {
        if constexpr (std::is_floating_point_v<T>) {
            if (std::isnan(v[a])) return false;
            if (std::isnan(v[b])) return true;
        }
        return v[a] < v[b];
    });
    return p;
}

template <class T>
std::vector<uint32_t> bits_of(const std::vector<T>& v) {
    std::vector<uint32_t> b(v.size());
    for (size_t i = 0; i < v.size(); ++i) b[i] = std::bit_cast<uint32_t>(v[i]);
    return b;
}

}  // namespace

// Sizes around the changes of method: insertion, compared packed items, radix.
class StableOrder : public ::testing::TestWithParam<size_t> {};

TEST_P(StableOrder, IntKeysInSignedOrder) {
    std::mt19937 rng(static_cast<uint32_t>(GetParam()));
    const int32_t pool[] = {INT32_MIN, -1, 0, 1, 7, INT32_MAX, 1 << 24, -(1 << 16)};
    std::vector<int32_t> v(GetParam());
    for (int32_t& x : v) x = pool[rng() % 8];
    EXPECT_EQ(stable_order(bits_of(v).data(), v.size(), true), reference_order(v));
}

TEST_P(StableOrder, FloatKeysWithZerosInfinitiesAndNaN) {
    std::mt19937 rng(static_cast<uint32_t>(GetParam()));
    const float pool[] = {0.0f, -0.0f, NAN, -NAN, INFINITY, -INFINITY, 1e-45f, -2.5f, 3.0f};
    std::vector<float> v(GetParam());
    for (float& x : v) x = pool[rng() % 9];
    EXPECT_EQ(stable_order(bits_of(v).data(), v.size(), false), reference_order(v));

    std::vector<float> positions(v.size());
    argsort_f32(v.data(), positions.data(), v.size());
    const std::vector<uint64_t> want = reference_order(v);
    for (size_t i = 0; i < v.size(); ++i) ASSERT_EQ(positions[i], static_cast<float>(want[i])) << i;
}

INSTANTIATE_TEST_SUITE_P(Sizes, StableOrder, ::testing::Values(0, 1, 2, 20, 21, 256, 257, 5000));
