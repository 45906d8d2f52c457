// Every element function must give the same bits whichever loop runs it: the portable loop,
// the AVX2 loop, one element at a time, or split over the pool.
#pragma GCC optimize("no-math-errno", "no-trapping-math")  // as the element-wise sources
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "ops/elementwise_binary_ops.hpp"
#include "ops/elementwise_runner.hpp"
#include "ops/elementwise_unary_ops.hpp"

using namespace tessra;
using namespace tessra::ew;

namespace {

std::vector<float> test_values(size_t n, unsigned seed) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> v = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, -0.5f, 1.5f, 2.5f, -2.5f, inf, -inf,
                            std::numeric_limits<float>::quiet_NaN(), 1e-45f, -1e-40f, 3.4e38f,
                            -3.4e38f, 3e9f, -3e9f, 2147483520.0f, 2147483648.0f, 16777217.0f,
                            8388607.5f, 31.0f, 32.0f, 33.0f, -7.0f, 0.1f, 5.7f, -5.7f};
    std::mt19937 gen(seed);
    std::normal_distribution<float> normal;
    std::uniform_real_distribution<float> scale(-6.0f, 6.0f);
    while (v.size() < n) v.push_back(normal(gen) * std::pow(10.0f, scale(gen)));
    v.resize(n);
    return v;
}

bool same(float a, float b) {
    return std::isnan(a) ? std::isnan(b) : std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

template <class Op, class... F>
__attribute__((noinline, optimize("no-tree-vectorize"))) float one(const Op& op, F... x) {
    return op(x...);
}

// Runs `op` over the inputs on every path and compares each with one-at-a-time results.
template <class Op, class... In>
void check_paths(const Op& op, const In&... in) {
    const size_t n = std::get<0>(std::tie(in...)).size();
    std::vector<float> expected(n), portable(n), pooled(n), wide(n);
    for (size_t i = 0; i < n; ++i) expected[i] = one(op, in[i]...);
    detail::loop(op, portable.data(), n, in.data()...);
    map(op, pooled.data(), n, in.data()...);
#if defined(__x86_64__)
    const bool avx2 = platform::cpu_has_avx2_fma();
    if (avx2) detail::loop_avx2(op, wide.data(), n, in.data()...);
#else
    const bool avx2 = false;
#endif
    for (size_t i = 0; i < n; ++i) {
        ASSERT_TRUE(same(portable[i], expected[i])) << "portable loop, element " << i;
        ASSERT_TRUE(same(pooled[i], expected[i])) << "pool, element " << i;
        ASSERT_TRUE(!avx2 || same(wide[i], expected[i])) << "AVX2 loop, element " << i;
    }
}

// Long enough for the pool to split the work of the cheap functions.
constexpr size_t kLong = (size_t{1} << 18) + 29;
constexpr size_t kShort = (size_t{1} << 13) + 29;

template <class Op>
size_t length_for() {
    return std::is_base_of_v<LibCall, Op> ? kShort : kLong;
}

}  // namespace

template <class Op>
class UnaryPaths : public ::testing::Test {};
using UnaryOps =
    ::testing::Types<Square, Neg, Abs, Reciprocal, Cbrt, Sqrt, Sin, Cos, Tan, Arcsin, Arccos,
                     Arctan, Sinh, Cosh, Tanh, Arcsinh, Arccosh, Arctanh, Exp, Exp2, Log, Log2,
                     Log10, Expm1, Log1p, Degrees, Radians, Floor, Ceil, Trunc, Round, Rint, Sign,
                     LogicalNot, BitwiseNot, IsEven, IsOdd>;
TYPED_TEST_SUITE(UnaryPaths, UnaryOps);

TYPED_TEST(UnaryPaths, SameBitsOnEveryPath) {
    check_paths(TypeParam{}, test_values(length_for<TypeParam>(), 1));
}

template <class Op>
class BinaryPaths : public ::testing::Test {};
using BinaryOps =
    ::testing::Types<Add, Sub, Mul, Div, Power, Mod, FloorDiv, Hypot, Arctan2, Copysign, Eq, Ne,
                     Gt, Lt, Ge, Le, LogicalAnd, LogicalOr, LogicalXor, BitwiseAnd, BitwiseOr,
                     BitwiseXor, LeftShift, RightShift>;
TYPED_TEST_SUITE(BinaryPaths, BinaryOps);

TYPED_TEST(BinaryPaths, SameBitsOnEveryPath) {
    const size_t n = length_for<TypeParam>();
    std::vector<float> a = test_values(n, 2), b = test_values(n, 3);
    // Every special value against every other, not only against itself.
    for (size_t i = 0; i < 29 * 29; ++i) {
        a[i] = a[i / 29];
        b[i] = b[i % 29];
    }
    check_paths(TypeParam{}, a, b);
}

TEST(ScalarParameterPaths, ClipAndPow) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> x = test_values(kLong, 4);
    for (float lo : {-1.0f, 0.0f, -0.0f, nan})
        for (float hi : {1.0f, -0.0f, nan}) check_paths(Clip{{}, lo, hi}, x);
    check_paths(PowScalar{{}, 0.1f}, test_values(kShort, 5));
}
