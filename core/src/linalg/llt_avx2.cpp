// Compiled with -mavx2 -mfma (CMakeLists.txt); called only when the CPU has both.
#if defined(__x86_64__)
#define TESSRA_KERNEL_NAME llt_lower_avx2
#define TESSRA_KERNEL_EIGEN tessra_eigen_llt_avx2
#include "linalg/llt_kernel.inc"
#endif
