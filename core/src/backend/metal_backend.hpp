#pragma once
#include <memory>

#include "backend/compute_backend.hpp"
#include "platform/metal.hpp"

namespace tessra::backend {

// The GPU through the Metal runners. It holds the process's device and queue; the runners
// compile, bind and wait on each call.
class MetalBackend final : public ComputeBackend {
public:
    MetalBackend(std::shared_ptr<platform::MetalDevice> device,
                 std::shared_ptr<platform::MetalCommandQueue> queue)
        : device_(std::move(device)), queue_(std::move(queue)) {}
    std::string name() const override { return "Metal"; }
    DispatchBackend kind() const override { return DispatchBackend::Metal; }
    bool is_available() const override { return platform::metal_device() != nullptr; }
    BackendCapabilities capabilities() const override;
    bool supports_dtype(DType d) const override { return d == DType::Float32; }
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

private:
    std::shared_ptr<platform::MetalDevice> device_;
    std::shared_ptr<platform::MetalCommandQueue> queue_;
};

// Null when the process has no Metal device or queue.
const MetalBackend* metal_backend();

}  // namespace tessra::backend
