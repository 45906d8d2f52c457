#pragma once
// A compute device that runs the basic single-precision operations on raw buffers. Back-end
// operations never throw for expected failures: they return a BackendError value.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "array/dtype.hpp"
#include "backend/policy.hpp"

namespace tessra::backend {

struct BackendError {
    enum Kind : uint8_t { NotAvailable, UnsupportedOperation, InvalidInput, ExecutionError, OutOfMemory };
    Kind kind;
    std::string message;
};

std::string backend_error_message(const BackendError& e);

inline BackendError invalid_input(std::string m) { return {BackendError::InvalidInput, std::move(m)}; }
inline BackendError execution_error(std::string m) {
    return {BackendError::ExecutionError, std::move(m)};
}

// A value or a BackendError.
template <class T>
class BackendResult {
public:
    BackendResult(T value) : v_(std::move(value)) {}
    BackendResult(BackendError error) : v_(std::move(error)) {}
    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<0>(v_); }
    const BackendError& error() const { return std::get<1>(v_); }

private:
    std::variant<T, BackendError> v_;
};

struct Done {};
using BackendStatus = BackendResult<Done>;
inline BackendStatus success() { return Done{}; }

struct BackendCapabilities {
    std::optional<uint64_t> max_size;
    std::vector<DType> supported_dtypes;
    std::unordered_map<std::string, std::string> properties;
    bool supports_f16 = false;  // neither back-end offers half precision
    bool supports_f64 = false;
};

struct WorkloadEstimate {
    uint64_t flops = 0;
    uint64_t memory_bytes = 0;
    bool is_batched = false;
};

class ComputeBackend {
public:
    virtual ~ComputeBackend() = default;
    virtual std::string name() const = 0;
    virtual DispatchBackend kind() const = 0;
    virtual bool is_available() const = 0;
    virtual BackendCapabilities capabilities() const = 0;
    virtual bool supports_dtype(DType d) const = 0;
    virtual BackendStatus matmul_f32(const float* a, const float* b, float* c, uint64_t m,
                                     uint64_t k, uint64_t n) const = 0;
    virtual BackendResult<float> sum_f32(const float* data, uint64_t count) const = 0;
    virtual BackendResult<float> mean_f32(const float* data, uint64_t count) const = 0;
    virtual BackendResult<float> max_f32(const float* data, uint64_t count) const = 0;
    virtual BackendResult<float> min_f32(const float* data, uint64_t count) const = 0;
    virtual BackendStatus add_f32(const float* a, const float* b, float* out, uint64_t count) const = 0;
    virtual BackendStatus sub_f32(const float* a, const float* b, float* out, uint64_t count) const = 0;
    virtual BackendStatus mul_f32(const float* a, const float* b, float* out, uint64_t count) const = 0;
    virtual BackendStatus div_f32(const float* a, const float* b, float* out, uint64_t count) const = 0;
};

}  // namespace tessra::backend
