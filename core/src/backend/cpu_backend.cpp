#include "backend/cpu_backend.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "hardware/capabilities.hpp"
#include "ops/chunk_sum.hpp"
#include "scheduler/arena.hpp"
#include "sort/float_order.hpp"
#include "util/arithmetic.hpp"

namespace tessra::backend {

namespace {

const char* simd_text(const hw::SystemCapabilities& c) {
    if (c.has_avx512) return "AVX-512";
    if (c.has_avx2) return "AVX2";
    if (c.has_neon) return "NEON";
    return "Scalar";
}

// out[i] = a[i] op b[i] with the result of an element-by-element loop in index order, so out may
// alias a or b. Blocks of 16 read all inputs before writing, which is the same as the loop
// whenever out lies at least 16 elements (64 bytes) away from each input, or on it exactly.
// 16 MiB of output: beyond what the last-level cache keeps for one core.
constexpr uint64_t kStreamFrom = uint64_t{1} << 22;

template <class Op>
BackendStatus elementwise(const float* a, const float* b, float* out, uint64_t count, Op op) {
    if (a == nullptr || b == nullptr || out == nullptr) return invalid_input("Null pointer");
    const auto far = [&](const float* in) {
        const auto d = reinterpret_cast<intptr_t>(out) - reinterpret_cast<intptr_t>(in);
        return d == 0 || d >= 64 || d <= -64;
    };
    uint64_t i = 0;
    if (far(a) && far(b)) {
#if defined(__SSE__)
        // Past the caches a store that skips them saves the read of each output line.
        if (count >= kStreamFrom) {
            for (; i < count && (reinterpret_cast<uintptr_t>(out + i) & 15) != 0; ++i)
                out[i] = op(a[i], b[i]);
            for (; i + 16 <= count; i += 16) {
                float x[16], y[16], r[16];
                for (int l = 0; l < 16; ++l) x[l] = a[i + l], y[l] = b[i + l];
                for (int l = 0; l < 16; ++l) r[l] = op(x[l], y[l]);
                for (int l = 0; l < 16; l += 4) _mm_stream_ps(out + i + l, _mm_loadu_ps(r + l));
            }
            _mm_sfence();
        }
#endif
        for (; i + 16 <= count; i += 16) {
            float x[16], y[16];
            for (int l = 0; l < 16; ++l) x[l] = a[i + l], y[l] = b[i + l];
            for (int l = 0; l < 16; ++l) out[i + l] = op(x[l], y[l]);
        }
        for (; i + 4 <= count; i += 4) {
            float x[4], y[4];
            for (int l = 0; l < 4; ++l) x[l] = a[i + l], y[l] = b[i + l];
            for (int l = 0; l < 4; ++l) out[i + l] = op(x[l], y[l]);
        }
    }
    for (; i < count; ++i) out[i] = op(a[i], b[i]);
    return success();
}

// maxNum / minNum are associative and commutative, so the fold may run in 16 lanes.
template <class Fold>
BackendResult<float> fold(const float* data, uint64_t count, float start, Fold f) {
    if (data == nullptr) return invalid_input("Null pointer");
    if (count == 0) return invalid_input("Empty array");
    float lanes[16];
    for (float& l : lanes) l = start;
    uint64_t i = 0;
    for (; i + 16 <= count; i += 16)
        for (int l = 0; l < 16; ++l) lanes[l] = f(lanes[l], data[i + l]);
    for (; i < count; ++i) lanes[0] = f(lanes[0], data[i]);
    float r = start;
    for (float l : lanes) r = f(r, l);
    return r;
}

}  // namespace

std::string CpuBackend::name() const {
    return std::string("CPU (") + simd_text(hw::detect_system_capabilities()) + ")";
}

BackendCapabilities CpuBackend::capabilities() const {
    const hw::SystemCapabilities& c = hw::detect_system_capabilities();
    BackendCapabilities caps;
    caps.supported_dtypes = {DType::Float32, DType::Float64, DType::Int32, DType::Int64, DType::Bool};
    caps.properties = {{"simd", simd_text(c)},
                       {"cores", std::to_string(c.cores)},
                       {"fma", c.has_fma ? "true" : "false"}};
    caps.supports_f64 = true;
    return caps;
}

bool CpuBackend::supports_dtype(DType d) const {
    for (DType s : capabilities().supported_dtypes)
        if (s == d) return true;
    return false;
}

BackendResult<float> CpuBackend::sum_f32(const float* data, uint64_t count) const {
    if (data == nullptr) return invalid_input("Null pointer");
    if (count == 0) return invalid_input("Empty array");
    return with_thread_arena([&](Arena&) -> BackendResult<float> {
        if (count <= kSequentialSumMax) {
            float s = 0.0f;
            for (uint64_t i = 0; i < count; ++i) s += data[i];
            return s;
        }
        const uint64_t p = hw::configured_processor_count();
        return arena_sum_f32_chunks(data, count, (count + p - 1) / p);
    });
}

BackendResult<float> CpuBackend::mean_f32(const float* data, uint64_t count) const {
    BackendResult<float> s = sum_f32(data, count);
    if (!s) return s;
    return s.value() / static_cast<float>(count);
}

BackendResult<float> CpuBackend::max_f32(const float* data, uint64_t count) const {
    return fold(data, count, -std::numeric_limits<float>::infinity(), max_num<float>);
}

BackendResult<float> CpuBackend::min_f32(const float* data, uint64_t count) const {
    return fold(data, count, std::numeric_limits<float>::infinity(), min_num<float>);
}

BackendStatus CpuBackend::add_f32(const float* a, const float* b, float* out, uint64_t count) const {
    return elementwise(a, b, out, count, FloatAdd{});
}
BackendStatus CpuBackend::sub_f32(const float* a, const float* b, float* out, uint64_t count) const {
    return elementwise(a, b, out, count, FloatSub{});
}
BackendStatus CpuBackend::mul_f32(const float* a, const float* b, float* out, uint64_t count) const {
    return elementwise(a, b, out, count, FloatMul{});
}
BackendStatus CpuBackend::div_f32(const float* a, const float* b, float* out, uint64_t count) const {
    return elementwise(a, b, out, count, FloatDiv{});
}

const CpuBackend& cpu_backend() {
    static const CpuBackend instance;
    return instance;
}

}  // namespace tessra::backend
