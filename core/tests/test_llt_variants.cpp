#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "array/aligned_buffer.hpp"
#include "linalg/llt_kernel.hpp"
#include "platform/cpuid.hpp"

using namespace tessra;

namespace {

// Symmetric positive definite, column-major (the same numbers either way).
std::vector<double> spd(int64_t n) {
    std::mt19937 gen(static_cast<unsigned>(n));
    std::normal_distribution<double> normal;
    std::vector<double> m(n * n), a(n * n);
    for (double& v : m) v = normal(gen);
    for (int64_t i = 0; i < n; ++i)
        for (int64_t j = 0; j < n; ++j) {
            double s = i == j ? 1.0 : 0.0;
            for (int64_t k = 0; k < n; ++k) s += m[i * n + k] * m[j * n + k] / n;
            a[i * n + j] = static_cast<float>(s);
        }
    return a;
}

// Textbook Cholesky in double precision, lower triangle, column-major.
std::vector<double> reference(std::vector<double> a, int64_t n) {
    for (int64_t j = 0; j < n; ++j) {
        for (int64_t k = 0; k < j; ++k) a[j * n + j] -= a[k * n + j] * a[k * n + j];
        a[j * n + j] = std::sqrt(a[j * n + j]);
        for (int64_t i = j + 1; i < n; ++i) {
            for (int64_t k = 0; k < j; ++k) a[j * n + i] -= a[k * n + i] * a[k * n + j];
            a[j * n + i] /= a[j * n + j];
        }
    }
    return a;
}

void check(bool (*llt)(float*, int64_t), int64_t n) {
    std::vector<double> a = spd(n), want = reference(a, n);
    AlignedBuffer buf = AlignedBuffer::uninit(static_cast<uint64_t>(n * n) * sizeof(float));
    float* w = buf.as<float>();
    for (int64_t i = 0; i < n * n; ++i) w[i] = static_cast<float>(a[i]);
    ASSERT_TRUE(llt(w, n));
    for (int64_t j = 0; j < n; ++j)
        for (int64_t i = j; i < n; ++i)
            ASSERT_NEAR(w[j * n + i], want[j * n + i], 2e-5) << n << ": (" << i << ", " << j << ")";
}

}  // namespace

// Both builds of the factorisation are linked in; each must be the real one, whichever the
// CPU would pick.
TEST(LltVariants, BothBuildsFactor) {
    for (int64_t n : {1, 17, 130, 300}) {
        check(linalg::detail::llt_lower_generic, n);
#if defined(__x86_64__)
        if (platform::cpu_has_avx2_fma()) check(linalg::detail::llt_lower_avx2, n);
#endif
    }
}
