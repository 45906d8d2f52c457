// What the software device runs for each kernel of the shader source: one call per grid
// position, with the MSL semantics the back-end relies on (32-bit constant words, the
// kernels' own bounds tests, ordered float compares so a NaN never replaces).
#include <cstdint>
#include <string_view>

#include "platform/metal.hpp"
#include "util/arithmetic.hpp"

namespace tessra::platform {

namespace {

float* f32(MetalBuffer* b) { return static_cast<float*>(b->contents()); }
const uint32_t* u32(MetalBuffer* b) { return static_cast<const uint32_t*>(b->contents()); }

template <class Op>
void binary(MetalBuffer* const* buf, uint64_t id, uint64_t) {
    f32(buf[2])[id] = Op{}(f32(buf[0])[id], f32(buf[1])[id]);
}

void sum_f32(MetalBuffer* const* buf, uint64_t id, uint64_t) {
    if (id != 0) return;
    const float* data = f32(buf[0]);
    const uint32_t count = u32(buf[2])[0];
    float sum = 0.0f;
    for (uint32_t i = 0; i < count; ++i) sum += data[i];
    f32(buf[1])[0] = sum;
}

template <bool Max>
void extreme_f32(MetalBuffer* const* buf, uint64_t id, uint64_t) {
    if (id != 0) return;
    const float* data = f32(buf[0]);
    const uint32_t count = u32(buf[2])[0];
    float m = count > 0 ? data[0] : 0.0f;
    for (uint32_t i = 1; i < count; ++i)
        if (Max ? data[i] > m : data[i] < m) m = data[i];
    f32(buf[1])[0] = m;
}

void matmul_f32(MetalBuffer* const* buf, uint64_t col, uint64_t row) {
    const uint32_t* dims = u32(buf[3]);
    const uint32_t M = dims[0], K = dims[1], N = dims[2];
    if (row >= M || col >= N) return;
    const float* a = f32(buf[0]);
    const float* b = f32(buf[1]);
    float sum = 0.0f;
    for (uint32_t i = 0; i < K; ++i) sum += a[row * K + i] * b[i * N + col];
    f32(buf[2])[row * N + col] = sum;
}

void transpose_f32(MetalBuffer* const* buf, uint64_t col, uint64_t row) {
    const uint32_t* dims = u32(buf[2]);
    const uint32_t M = dims[0], N = dims[1];
    if (row >= M || col >= N) return;
    f32(buf[1])[col * M + row] = f32(buf[0])[row * N + col];
}

}  // namespace

MetalKernelBody software_metal_kernel(std::string_view name) {
    struct Entry {
        std::string_view name;
        MetalKernelBody body;
    };
    static constexpr Entry kKernels[] = {
        {"add_f32", binary<FloatAdd>},  {"sub_f32", binary<FloatSub>},
        {"mul_f32", binary<FloatMul>},  {"div_f32", binary<FloatDiv>},
        {"sum_f32", sum_f32},           {"max_f32", extreme_f32<true>},
        {"min_f32", extreme_f32<false>}, {"matmul_f32", matmul_f32},
        {"transpose_f32", transpose_f32},
    };
    for (const Entry& e : kKernels)
        if (e.name == name) return e.body;
    return nullptr;
}

}  // namespace tessra::platform
