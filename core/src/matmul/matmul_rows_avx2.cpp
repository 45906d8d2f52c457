// Compiled with -mavx2 -mfma (CMakeLists.txt); called only when the CPU has both.
#if defined(__x86_64__)
#define TESSRA_KERNEL_NAME matmul_rows_avx2
#define TESSRA_KERNEL_EIGEN tessra_eigen_matmul_avx2
#include "matmul/matmul_rows_kernel.inc"
#endif
