#define TESSRA_LLT_NAME llt_lower_generic
#define TESSRA_LLT_EIGEN tessra_eigen_generic
#include "linalg/llt_kernel.inc"
