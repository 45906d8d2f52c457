#define TESSRA_GEMM_ROWS gemm_rows_generic
#include "matmul/matmul_rows_kernel.inc"
