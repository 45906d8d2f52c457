#pragma once
#include "array/core_array.hpp"

namespace tessra {

// The values in ascending order (descending: that sequence reversed), in the receiver's shape.
// Equivalent values (equal, or 0.0 and -0.0) keep their order; NaN sorts after +inf.
Result<CoreArray> sort_array(const CoreArray& a, bool descending);
// The flat positions that sort the values, as floats, in the receiver's shape; equivalent
// values in ascending position order (descending: the whole list reversed).
Result<CoreArray> argsort_array(const CoreArray& a, bool descending);

}  // namespace tessra
