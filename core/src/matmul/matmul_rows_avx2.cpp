// Compiled with -mavx2 -mfma (CMakeLists.txt). Eigen's namespace gets another name here, so no
// template instance of this build shares a symbol with the plain build's and the linker can
// never run one in place of the other.
#define Eigen TessraEigenAvx2
#define TESSRA_GEMM_ROWS gemm_rows_avx2
#include "matmul/matmul_rows_kernel.inc"
