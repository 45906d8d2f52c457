// Compiled with -mavx2 -mfma (see CMakeLists.txt); called only when the CPU has both.
#if defined(__x86_64__)
#define TESSRA_LLT_NAME llt_lower_avx2
#define TESSRA_LLT_EIGEN tessra_eigen_avx2
#include "linalg/llt_kernel.inc"
#endif
