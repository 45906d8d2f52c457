#define TESSRA_GEMM_ROWS gemm_rows_generic
#include "ops/matmul_rows_body.inc"
