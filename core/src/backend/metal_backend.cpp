#include "backend/metal_backend.hpp"

#include "backend/metal_runners.hpp"

namespace tessra::backend {

namespace {

BackendStatus ran(bool ok, const char* op) {
    if (ok) return success();
    return execution_error(std::string("Metal ") + op + " failed");
}

BackendResult<float> reduced(const char* kernel, const float* data, uint64_t count) {
    float result = 0.0f;
    if (!run_metal_reduce_kernel(kernel, data, count, &result))
        return execution_error(std::string("Metal ") + kernel + " failed");
    return result;
}

}  // namespace

BackendCapabilities MetalBackend::capabilities() const {
    BackendCapabilities caps;
    caps.supported_dtypes = {DType::Float32};
    return caps;
}

BackendStatus MetalBackend::matmul_f32(const float* a, const float* b, float* c, uint64_t m,
                                       uint64_t k, uint64_t n) const {
    return ran(run_metal_matmul_kernel(a, b, c, m, k, n), "matmul_f32");
}

BackendResult<float> MetalBackend::sum_f32(const float* data, uint64_t count) const {
    return reduced("sum_f32", data, count);
}
BackendResult<float> MetalBackend::mean_f32(const float* data, uint64_t count) const {
    BackendResult<float> s = reduced("sum_f32", data, count);
    if (!s) return s;
    return s.value() / static_cast<float>(count);
}
BackendResult<float> MetalBackend::max_f32(const float* data, uint64_t count) const {
    return reduced("max_f32", data, count);
}
BackendResult<float> MetalBackend::min_f32(const float* data, uint64_t count) const {
    return reduced("min_f32", data, count);
}

BackendStatus MetalBackend::add_f32(const float* a, const float* b, float* out, uint64_t count) const {
    return ran(run_metal_binary_kernel("add_f32", a, b, out, count), "add_f32");
}
BackendStatus MetalBackend::sub_f32(const float* a, const float* b, float* out, uint64_t count) const {
    return ran(run_metal_binary_kernel("sub_f32", a, b, out, count), "sub_f32");
}
BackendStatus MetalBackend::mul_f32(const float* a, const float* b, float* out, uint64_t count) const {
    return ran(run_metal_binary_kernel("mul_f32", a, b, out, count), "mul_f32");
}
BackendStatus MetalBackend::div_f32(const float* a, const float* b, float* out, uint64_t count) const {
    return ran(run_metal_binary_kernel("div_f32", a, b, out, count), "div_f32");
}

const MetalBackend* metal_backend() {
    static const MetalBackend* instance = []() -> const MetalBackend* {
        const auto& device = platform::metal_device();
        const auto& queue = platform::metal_command_queue();
        if (!device || !queue) return nullptr;
        return new MetalBackend(device, queue);  // kept for the life of the process
    }();
    return instance;
}

}  // namespace tessra::backend
