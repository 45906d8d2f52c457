// Compiled with -mavx2 -mfma (CMakeLists.txt).
#define EIGEN_DEFAULT_DENSE_INDEX_TYPE long long
#define TESSRA_GEMM_ROWS gemm_rows_avx2
#include "ops/matmul_rows_body.inc"
