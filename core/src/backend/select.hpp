#pragma once
// Which back-end runs one operation, and the matrix-product entry of the array class and the
// raw-address functions.
#include <cstdint>
#include <optional>
#include <string>

#include "backend/compute_backend.hpp"

namespace tessra::backend {

// Work of up to this many flops stays on the CPU under the default policy; only more goes to a
// GPU, and only more is advised for one.
inline constexpr uint64_t kCpuFlopsMax = 100'000'000;

const ComputeBackend& select_backend(const WorkloadEstimate& estimate);

// c = a (m×k) · b (k×n) on the selected back-end; the shown error text on failure.
std::optional<std::string> dispatch_matmul(const float* a, const float* b, float* c, uint64_t m,
                                           uint64_t k, uint64_t n);

}  // namespace tessra::backend
