#define TESSRA_KERNEL_NAME matmul_rows_generic
#define TESSRA_KERNEL_EIGEN tessra_eigen_matmul_generic
#include "matmul/matmul_rows_kernel.inc"
