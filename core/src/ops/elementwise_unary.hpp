#pragma once
// The one-operand element-wise methods. Every result is a new Float32 array of the receiver's
// shape; `sin`, `exp`, `log` and `sqrt` hold the calling thread's Arena while they run.
#include <cstdint>
#include <string_view>

#include "array/core_array.hpp"
#include "util/error.hpp"

namespace tessra::ew {

enum class UnaryOp : uint8_t {
    Square, Neg, Abs, Reciprocal, Cbrt,
    Cos, Tan, Arcsin, Arccos, Arctan, Sinh, Cosh, Tanh,
    Exp2, Log2, Log10, Arcsinh, Arccosh, Arctanh, Expm1, Log1p,
    Degrees, Radians, Floor, Ceil, Trunc, Round, Rint, Sign,
    LogicalNot, BitwiseNot, IsEven, IsOdd,
    Sin, Exp, Log, Sqrt,
};
inline constexpr size_t kUnaryOpCount = 37;

// The word the method's messages use: its Python name without a trailing "_op".
std::string_view unary_word(UnaryOp op);

// TypeError unless the receiver is Float32.
Result<CoreArray> unary(UnaryOp op, const CoreArray& a);

}  // namespace tessra::ew
