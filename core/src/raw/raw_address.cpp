#include "raw/raw_address.hpp"

#include <cstring>
#include <vector>

#include "backend/cpu_backend.hpp"
#include "backend/select.hpp"
#include "hardware/capabilities.hpp"
#include "ops/chunk_sum.hpp"
#include "raw/timed.hpp"
#include "scheduler/arena.hpp"
#include "scheduler/pool.hpp"

namespace tessra::raw {

namespace {

using backend::BackendStatus;

Status shown(const BackendStatus& s) {
    if (s) return ok_status();
    return runtime_error(backend::backend_error_message(s.error()));
}

template <class Op>
Status elementwise(const char* fn, const char* op, uint64_t a, uint64_t b, uint64_t out,
                   uint64_t count, Op run) {
    if (Status s = check_addresses(fn, {a, b, out}); !s) return s;
    if (Status s = check_bytes("count", {count, 4}); !s) return s;
    if (count == 0) return ok_status();
    return timed(op, "CPU", count, [&] {
        return shown(run(at<float>(a), at<float>(b), at_mut<float>(out), count));
    });
}

}  // namespace

// ---- element-wise -------------------------------------------------------------------------

Status add_f32(uint64_t a, uint64_t b, uint64_t out, uint64_t count) {
    return elementwise("array_add_f32", "add", a, b, out, count,
                       [](const float* x, const float* y, float* z, uint64_t n) {
                           const backend::WorkloadEstimate estimate{n, 12 * n, false};
                           return backend::select_backend(estimate).add_f32(x, y, z, n);
                       });
}

// The CPU back-end's loops are exactly the ascending element-by-element ones these need.
Status sub_f32(uint64_t a, uint64_t b, uint64_t out, uint64_t count) {
    return elementwise("array_sub_f32", "sub", a, b, out, count,
                       [](const float* x, const float* y, float* z, uint64_t n) {
                           return backend::cpu_backend().sub_f32(x, y, z, n);
                       });
}
Status mul_f32(uint64_t a, uint64_t b, uint64_t out, uint64_t count) {
    return elementwise("array_mul_f32", "mul", a, b, out, count,
                       [](const float* x, const float* y, float* z, uint64_t n) {
                           return backend::cpu_backend().mul_f32(x, y, z, n);
                       });
}
Status div_f32(uint64_t a, uint64_t b, uint64_t out, uint64_t count) {
    return elementwise("array_div_f32", "div", a, b, out, count,
                       [](const float* x, const float* y, float* z, uint64_t n) {
                           return backend::cpu_backend().div_f32(x, y, z, n);
                       });
}

// ---- whole-buffer reductions --------------------------------------------------------------

namespace {

Result<float> cpu_sum(uint64_t data, uint64_t count) {
    backend::BackendResult<float> s = backend::cpu_backend().sum_f32(at<float>(data), count);
    if (!s) return runtime_error(backend::backend_error_message(s.error()));
    return s.value();
}

}  // namespace

Result<float> sum_f32(uint64_t data, uint64_t count) {
    if (Status s = check_addresses("array_sum_f32", {data}); !s) return s.error();
    if (Status s = check_bytes("count", {count, 4}); !s) return s.error();
    if (count == 0) return 0.0f;
    return timed("sum", "CPU", count, [&] { return cpu_sum(data, count); });
}

Result<float> mean_f32(uint64_t data, uint64_t count) {
    if (Status s = check_addresses("array_mean_f32", {data}); !s) return s.error();
    if (Status s = check_bytes("count", {count, 4}); !s) return s.error();
    if (count == 0) return value_error("Cannot compute mean of empty array");
    return timed("mean", "CPU", count, [&]() -> Result<float> {
        Result<float> s = cpu_sum(data, count);
        if (!s) return s;
        return s.value() / static_cast<float>(count);
    });
}

namespace kernels {

int32_t sum_i32(const int32_t* data, uint64_t count) {
    // Unsigned lanes: wrapping is the intended arithmetic and is defined there.
    uint32_t lanes[16] = {};
    uint64_t i = 0;
    for (; i + 16 <= count; i += 16)
        for (int l = 0; l < 16; ++l) lanes[l] += static_cast<uint32_t>(data[i + l]);
    uint32_t s = 0;
    for (uint32_t l : lanes) s += l;
    for (; i < count; ++i) s += static_cast<uint32_t>(data[i]);
    return static_cast<int32_t>(s);
}

float dot_product(const float* a, const float* b, uint64_t count) {
    float s = -0.0f;
    uint64_t i = 0;
    // Products eight at a time (independent), the additions strictly in index order.
    for (; i + 8 <= count; i += 8) {
        float p[8];
        for (int l = 0; l < 8; ++l) p[l] = a[i + l] * b[i + l];
        for (int l = 0; l < 8; ++l) s += p[l];
    }
    for (; i < count; ++i) s += a[i] * b[i];
    return s;
}

}  // namespace kernels

Result<int32_t> sum_i32(uint64_t data, uint64_t count) {
    if (Status s = check_addresses("array_sum_i32", {data}); !s) return s.error();
    if (Status s = check_bytes("count", {count, 4}); !s) return s.error();
    if (count == 0) return 0;
    return timed("sum", "CPU", count, [&]() -> Result<int32_t> {
        return with_thread_arena([&](Arena&) {
            const int32_t* values = at<int32_t>(data);
            if (count <= kSequentialSumMax) return kernels::sum_i32(values, count);
            const uint64_t p = std::max<uint64_t>(hw::configured_processor_count(), 1);
            const uint64_t chunk = (count + p - 1) / p;
            const uint64_t chunks = (count + chunk - 1) / chunk;
            std::vector<int32_t> partial(chunks);
            pool::parallel_tasks(chunks, [&](size_t c) {
                const uint64_t begin = c * chunk;
                partial[c] = kernels::sum_i32(values + begin, std::min(chunk, count - begin));
            });
            return kernels::sum_i32(partial.data(), chunks);
        });
    });
}

Result<bool> any(uint64_t data, uint64_t count) {
    if (Status s = check_addresses("array_any", {data}); !s) return s.error();
    if (count == 0) return false;
    return timed("any", "CPU", count, [&]() -> Result<bool> {
        return with_thread_arena([&](Arena&) {
            const unsigned char* bytes = at<unsigned char>(data);
            for (uint64_t i = 0; i < count; ++i)
                if (bytes[i] != 0) return true;
            return false;
        });
    });
}

Result<bool> all(uint64_t data, uint64_t count) {
    if (Status s = check_addresses("array_all", {data}); !s) return s.error();
    if (count == 0) return true;
    return timed("all", "CPU", count, [&]() -> Result<bool> {
        return with_thread_arena(
            [&](Arena&) { return std::memchr(at<void>(data), 0, count) == nullptr; });
    });
}

Result<float> dot_product_f32(uint64_t a, uint64_t b, uint64_t count) {
    if (Status s = check_addresses("array_dot_product_f32", {a, b}); !s) return s.error();
    if (Status s = check_bytes("count", {count, 4}); !s) return s.error();
    if (count == 0) return 0.0f;
    return timed("dot_product", "CPU", count, [&]() -> Result<float> {
        return kernels::dot_product(at<float>(a), at<float>(b), count);
    });
}

Status matmul_2d_f32(uint64_t a, uint64_t b, uint64_t out, uint64_t m, uint64_t k, uint64_t n) {
    if (Status s = check_addresses("array_matmul_2d_f32", {a, b, out}); !s) return s;
    if (Status s = check_product_bytes("out", m, k, n); !s) return s;
    return timed("matmul_2d", "CPU", m * k * n, [&]() -> Status {
        if (auto failure = backend::dispatch_matmul(at<float>(a), at<float>(b), at_mut<float>(out),
                                                    m, k, n))
            return runtime_error(*failure);
        return ok_status();
    });
}

std::string sum_as_string(uint64_t a, uint64_t b) {
    __extension__ typedef unsigned __int128 u128;  // the sum needs 65 bits
    u128 s = static_cast<u128>(a) + b;
    char digits[40];
    char* p = digits + sizeof digits;
    do {
        *--p = static_cast<char>('0' + static_cast<int>(s % 10));
        s /= 10;
    } while (s != 0);
    return std::string(p, digits + sizeof digits);
}

}  // namespace tessra::raw
