#pragma once
#include "array/core_array.hpp"
#include "util/error.hpp"

namespace tessra {

// a (m×k) · b (k×n) as a new Float32 array through back-end dispatch. A product with a zero
// dimension needs no back-end: it is all zeros (or empty) and counts as the own kernel's road.
Result<CoreArray> matmul(const CoreArray& a, const CoreArray& b);

}  // namespace tessra
