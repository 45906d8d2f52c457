#include "matmul/matmul_rows_kernel.hpp"

#include "util/cpu_features.hpp"

namespace tessra {

void gemm_rows(const float* a, const float* b, float* c, uint64_t rows, uint64_t k, uint64_t n) {
#if defined(__x86_64__)
    if (cpu_has_avx2_fma()) return gemm_detail::gemm_rows_avx2(a, b, c, rows, k, n);
#endif
    gemm_detail::gemm_rows_generic(a, b, c, rows, k, n);
}

}  // namespace tessra
