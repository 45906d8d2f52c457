/* The plain C loops the reductions are measured against: one accumulator carried through
   the values in order, as a C compiler builds it at -O2. */
#include <stddef.h>

float chain_sum(const float* a, size_t n) {
    float s = -0.0f;
    for (size_t i = 0; i < n; ++i) s += a[i];
    return s;
}

float chain_mean(const float* a, size_t n) {
    float s = -0.0f;
    for (size_t i = 0; i < n; ++i) s += a[i];
    return s / (float)n;
}

float chain_prod(const float* a, size_t n) {
    float p = 1.0f;
    for (size_t i = 0; i < n; ++i) p *= a[i];
    return p;
}

void chain_cumsum(const float* a, float* out, size_t n) {
    float s = 0.0f;
    for (size_t i = 0; i < n; ++i) {
        s += a[i];
        out[i] = s;
    }
}

float chain_dot(const float* a, const float* b, size_t n) {
    float s = -0.0f;
    for (size_t i = 0; i < n; ++i) s += a[i] * b[i];
    return s;
}
