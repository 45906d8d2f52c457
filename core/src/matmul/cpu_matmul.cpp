// The CPU back-end's matrix product: the own kernel for small products, else the road the
// policy and the detected math library choose, recorded in LastDispatch before it runs.
#include <algorithm>
#include <limits>

#include "backend/cpu_backend.hpp"
#include "backend/policy.hpp"
#include "hardware/math_backend.hpp"
#include "matmul/matmul_parallel.hpp"
#include "matmul/matmul_small.hpp"
#include "platform/cblas.hpp"
#include "util/saturating.hpp"

namespace tessra {

namespace {

using backend::BackendPolicy;
using backend::DispatchBackend;

struct Road {
    hw::MathBackend library;  // for the thread count and the exported variables
    DispatchBackend recorded;
    bool parallel;            // matmul_parallel, else cblas_sgemm
};

Road detected_road() {
    const hw::MathBackend lib = hw::detect_math_backend();
    switch (lib) {
        case hw::MathBackend::MKL: return {lib, DispatchBackend::MKL, false};
        case hw::MathBackend::AOCL: return {lib, DispatchBackend::AOCL, false};
        case hw::MathBackend::Accelerate: return {lib, DispatchBackend::Accelerate, false};
        case hw::MathBackend::OpenBLAS: return {lib, DispatchBackend::OpenBLAS, false};
        case hw::MathBackend::RustParallel: break;
    }
    return {lib, DispatchBackend::RustParallel, true};
}

Road road_for(BackendPolicy p) {
    switch (p) {
        case BackendPolicy::Openblas:
        case BackendPolicy::Blas: return {hw::MathBackend::OpenBLAS, DispatchBackend::OpenBLAS, false};
        case BackendPolicy::Mkl: return {hw::MathBackend::MKL, DispatchBackend::MKL, false};
        case BackendPolicy::Aocl: return {hw::MathBackend::AOCL, DispatchBackend::AOCL, false};
        case BackendPolicy::RustParallel:
            return {hw::MathBackend::RustParallel, DispatchBackend::RustParallel, true};
        default: return detected_road();  // Default, Cuda, Metal and Accelerate
    }
}

bool fits_cblas(uint64_t v) { return v <= static_cast<uint64_t>(std::numeric_limits<int>::max()); }

}  // namespace

backend::BackendStatus backend::CpuBackend::matmul_f32(const float* a, const float* b, float* c,
                                                       uint64_t m, uint64_t k, uint64_t n) const {
    if (a == nullptr || b == nullptr || c == nullptr) return invalid_input("Null pointer");
    if (saturating_mul({m, k, n}) <= kSmallProductMax) {
        record_small_product();
        matmul_small(a, b, c, m, k, n);
        return success();
    }
    const BackendPolicy p = backend_policy();
    const Road road = road_for(p);
    // CBLAS takes 32-bit sizes; a truncated one would read and write past the buffers.
    if (!road.parallel && !(fits_cblas(m) && fits_cblas(k) && fits_cblas(n)))
        return invalid_input("Matrix dimensions exceed the 32-bit range of CBLAS");
    const uint64_t t = hw::blas_thread_count(std::max({m, k, n}), road.library);
    hw::configure_blas_threads(road.library, t);
    record_product(p, road.recorded, m, k, n);
    if (road.parallel || !platform::cblas_available()) {
        // Without a loadable CBLAS the row-block product still gives the result.
        matmul_parallel(a, b, c, m, k, n, t);
    } else {
        platform::cblas_sgemm(platform::CblasRowMajor, platform::CblasNoTrans,
                              platform::CblasNoTrans, int(m), int(n), int(k), 1.0f, a, int(k), b,
                              int(n), 0.0f, c, int(n));
    }
    return success();
}

}  // namespace tessra
