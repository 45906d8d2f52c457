#include "raw/metal_calls.hpp"

#include <string>

#include "backend/metal_runners.hpp"
#include "platform/metal.hpp"
#include "raw/timed.hpp"

namespace tessra::raw {

namespace {

Error kernel_failed(const char* kernel) {
    return runtime_error(std::string("Execution error: Metal ") + kernel + " failed");
}

Status ran(bool ok, const char* kernel) {
    if (ok) return ok_status();
    return kernel_failed(kernel);
}

// The reduction kernels write one value into a slot that starts at 0.0.
Result<float> reduce(const char* kernel, uint64_t data, uint64_t count) {
    float slot = 0.0f;
    if (!backend::run_metal_reduce_kernel(kernel, at<float>(data), count, &slot))
        return kernel_failed(kernel);
    return slot;
}

std::string name_of(const char* kernel) {
    // "add_f32" is called as metal_add_f32 and profiled as "add".
    return std::string(kernel).substr(0, std::string(kernel).find('_'));
}

Result<float> reduction(const char* fn, const char* op, const char* kernel, uint64_t data,
                        uint64_t count, Result<float> on_empty) {
    if (Status s = check_addresses(fn, {data}); !s) return s.error();
    if (Status s = check_bytes("count", {count, 4}); !s) return s.error();
    if (count == 0) return on_empty;
    return timed(op, "Metal", count, [&] { return reduce(kernel, data, count); });
}

}  // namespace

bool metal_is_available() { return platform::metal_device() != nullptr; }

Status metal_binary(const char* kernel, uint64_t a, uint64_t b, uint64_t result, uint64_t count) {
    const std::string op = name_of(kernel);
    if (Status s = check_addresses("metal_" + std::string(kernel), {a, b, result}); !s) return s;
    if (Status s = check_bytes("count", {count, 4}); !s) return s;
    return timed(op, "Metal", count, [&] {
        return ran(backend::run_metal_binary_kernel(kernel, at<float>(a), at<float>(b),
                                                    at_mut<float>(result), count),
                   kernel);
    });
}

Result<float> metal_sum_f32(uint64_t data, uint64_t count) {
    return reduction("metal_sum_f32", "sum", "sum_f32", data, count, 0.0f);
}

Result<float> metal_mean_f32(uint64_t data, uint64_t count) {
    if (Status s = check_addresses("metal_mean_f32", {data}); !s) return s.error();
    if (Status s = check_bytes("count", {count, 4}); !s) return s.error();
    if (count == 0) return value_error("Cannot compute mean of empty array");
    return timed("mean", "Metal", count, [&]() -> Result<float> {
        Result<float> s = reduce("sum_f32", data, count);
        if (!s) return s;
        return s.value() / static_cast<float>(count);
    });
}

Result<float> metal_max_f32(uint64_t data, uint64_t count) {
    return reduction("metal_max_f32", "max", "max_f32", data, count,
                     value_error("Cannot compute max of empty array"));
}

Result<float> metal_min_f32(uint64_t data, uint64_t count) {
    return reduction("metal_min_f32", "min", "min_f32", data, count,
                     value_error("Cannot compute min of empty array"));
}

Status metal_matmul_f32(uint64_t a, uint64_t b, uint64_t c, uint64_t m, uint64_t k, uint64_t n) {
    if (Status s = check_addresses("metal_matmul_f32", {a, b, c}); !s) return s;
    if (Status s = check_product_bytes("c", m, k, n); !s) return s;
    return timed("matmul", "Metal", m * k * n, [&] {
        return ran(
            backend::run_metal_matmul_kernel(at<float>(a), at<float>(b), at_mut<float>(c), m, k, n),
            "matmul_f32");
    });
}

Status metal_transpose_f32(uint64_t in, uint64_t out, uint64_t m, uint64_t n) {
    if (Status s = check_addresses("metal_transpose_f32", {in, out}); !s) return s;
    if (Status s = check_bytes("in (m x n)", {m, n, 4}); !s) return s;
    return timed("transpose", "Metal", m * n, [&] {
        const float* src = at<float>(in);
        float* dst = at_mut<float>(out);
        // Row by row of the input, as the buffers may overlap and the order then shows.
        for (uint64_t i = 0; i < m; ++i)
            for (uint64_t j = 0; j < n; ++j) dst[j * m + i] = src[i * n + j];
        return ok_status();
    });
}

Status metal_broadcast_op(uint64_t a, uint64_t b, uint64_t out, size_t rank, size_t rank_a,
                          size_t rank_b) {
    if (Status s = check_addresses("metal_broadcast_op", {a, b, out}); !s) return s;
    if (rank_a != rank || rank_b != rank)
        return value_error("Strides rank mismatch in metal_broadcast_op");
    return not_implemented_error("Metal broadcast operation is not implemented");
}

}  // namespace tessra::raw
