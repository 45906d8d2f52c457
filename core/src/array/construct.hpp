#pragma once
#include <optional>
#include <vector>

#include "array/core_array.hpp"

namespace tessra {

// Float32 array of `shape` with every element `value`.
Result<CoreArray> full(Shape shape, float value);
// [start, start+step, ...) accumulated in single precision; step defaults to 1.
Result<CoreArray> arange(double start, double stop, std::optional<double> step);
// `num` values step*i + start, step = (stop - start) / (num - 1), all in single precision.
CoreArray linspace(double start, double stop, uint64_t num);
// Joins arrays along axis 0 (1-D first array: all elements flattened in order).
Result<CoreArray> concatenate(const std::vector<const CoreArray*>& arrays);

}  // namespace tessra
