#pragma once
#include "backend/compute_backend.hpp"

namespace tessra::backend {

// Runs on the calling thread, but for sums longer than kSequentialSumMax (general pool) and
// large matrix products (math library or the matmul pool).
class CpuBackend final : public ComputeBackend {
public:
    std::string name() const override;
    DispatchBackend kind() const override { return DispatchBackend::Neon; }
    bool is_available() const override { return true; }
    BackendCapabilities capabilities() const override;
    bool supports_dtype(DType d) const override;
    // Defined with the product roads it chooses from, in matmul/cpu_matmul.cpp.
    BackendStatus matmul_f32(const float* a, const float* b, float* c, uint64_t m, uint64_t k,
                             uint64_t n) const override;
    BackendResult<float> sum_f32(const float* data, uint64_t count) const override;
    BackendResult<float> mean_f32(const float* data, uint64_t count) const override;
    BackendResult<float> max_f32(const float* data, uint64_t count) const override;
    BackendResult<float> min_f32(const float* data, uint64_t count) const override;
    BackendStatus add_f32(const float* a, const float* b, float* out, uint64_t count) const override;
    BackendStatus sub_f32(const float* a, const float* b, float* out, uint64_t count) const override;
    BackendStatus mul_f32(const float* a, const float* b, float* out, uint64_t count) const override;
    BackendStatus div_f32(const float* a, const float* b, float* out, uint64_t count) const override;
};

const CpuBackend& cpu_backend();

}  // namespace tessra::backend
