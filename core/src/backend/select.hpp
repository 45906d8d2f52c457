#pragma once
// Which back-end runs one operation, and the matrix-product entry of the array class and the
// raw-address functions.
#include <cstdint>
#include <optional>
#include <string>

#include "backend/compute_backend.hpp"

namespace tessra::backend {

const ComputeBackend& select_backend(const WorkloadEstimate& estimate);

// c = a (m×k) · b (k×n) on the selected back-end; the shown error text on failure.
std::optional<std::string> dispatch_matmul(const float* a, const float* b, float* c, uint64_t m,
                                           uint64_t k, uint64_t n);

}  // namespace tessra::backend
