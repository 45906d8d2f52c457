#define EIGEN_DEFAULT_DENSE_INDEX_TYPE long
#define TESSRA_GEMM_ROWS gemm_rows_generic
#include "ops/matmul_rows_body.inc"
