#define TESSRA_KERNEL_NAME llt_lower_generic
#define TESSRA_KERNEL_EIGEN tessra_eigen_llt_generic
#include "linalg/llt_kernel.inc"
