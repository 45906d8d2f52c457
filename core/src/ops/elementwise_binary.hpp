#pragma once
// The two-operand element-wise methods: an array with an array of the same shape, and the two
// with number parameters (clip, pow). Every result is a new Float32 array.
#include <cstdint>
#include <string_view>

#include "array/core_array.hpp"
#include "util/error.hpp"

namespace tessra::ew {

enum class BinaryOp : uint8_t {
    Add, Sub, Mul, Div, Power, Mod, FloorDiv, Hypot, Arctan2, Copysign,
    Eq, Ne, Gt, Lt, Ge, Le,
    LogicalAnd, LogicalOr, LogicalXor,
    BitwiseAnd, BitwiseOr, BitwiseXor, LeftShift, RightShift,
};
inline constexpr size_t kBinaryOpCount = 24;

// The word the method's messages use: its Python name without a trailing "_op".
std::string_view binary_word(BinaryOp op);

// TypeError unless both are Float32, then ValueError unless the shapes are equal.
Result<CoreArray> binary(BinaryOp op, const CoreArray& a, const CoreArray& b);
// min(max(a, lo), hi) under maxNum / minNum; only `a` is type-checked.
Result<CoreArray> clip(const CoreArray& a, float lo, float hi);
// powf(a, exponent) for every element.
Result<CoreArray> pow_scalar(const CoreArray& a, float exponent);

}  // namespace tessra::ew
