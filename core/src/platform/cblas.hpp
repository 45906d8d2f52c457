#pragma once
// The platform CBLAS single-precision product. On this OS it is OpenBLAS, loaded with dlopen on
// first use (never at import: its threaded build starts its threads the moment it loads) and
// left to its own threading, whatever thread variables the process exported before.
namespace tessra::platform {

inline constexpr int CblasRowMajor = 101;
inline constexpr int CblasNoTrans = 111;

// Whether the library could be loaded (loads it on the first call).
bool cblas_available();

// cblas_sgemm; the caller checks cblas_available() first.
void cblas_sgemm(int order, int trans_a, int trans_b, int m, int n, int k, float alpha,
                 const float* a, int lda, const float* b, int ldb, float beta, float* c, int ldc);

}  // namespace tessra::platform
