#pragma GCC optimize("no-math-errno", "no-trapping-math")  // see elementwise_runner.hpp
#include "ops/elementwise_binary.hpp"

#include <iterator>

#include "ops/elementwise_binary_ops.hpp"
#include "ops/elementwise_runner.hpp"

namespace tessra::ew {

namespace {

using Runner = Result<CoreArray> (*)(std::string_view, const CoreArray&, const CoreArray&);

template <class Op>
Result<CoreArray> run(std::string_view word, const CoreArray& a, const CoreArray& b) {
    return binary_frame(word, a, b, Op{});
}

struct Entry {
    std::string_view word;
    Runner run;
};

// In the order of BinaryOp.
constexpr Entry kOps[] = {
    {"add", run<Add>},
    {"sub", run<Sub>},
    {"mul", run<Mul>},
    {"div", run<Div>},
    {"power", run<Power>},
    {"mod", run<Mod>},
    {"floor_div", run<FloorDiv>},
    {"hypot", run<Hypot>},
    {"arctan2", run<Arctan2>},
    {"copysign", run<Copysign>},
    {"eq", run<Eq>},
    {"ne", run<Ne>},
    {"gt", run<Gt>},
    {"lt", run<Lt>},
    {"ge", run<Ge>},
    {"le", run<Le>},
    {"logical_and", run<LogicalAnd>},
    {"logical_or", run<LogicalOr>},
    {"logical_xor", run<LogicalXor>},
    {"bitwise_and", run<BitwiseAnd>},
    {"bitwise_or", run<BitwiseOr>},
    {"bitwise_xor", run<BitwiseXor>},
    {"left_shift", run<LeftShift>},
    {"right_shift", run<RightShift>},
};
static_assert(std::size(kOps) == kBinaryOpCount);

}  // namespace

std::string_view binary_word(BinaryOp op) { return kOps[static_cast<size_t>(op)].word; }

Result<CoreArray> binary(BinaryOp op, const CoreArray& a, const CoreArray& b) {
    const Entry& e = kOps[static_cast<size_t>(op)];
    return e.run(e.word, a, b);
}

Result<CoreArray> clip(const CoreArray& a, float lo, float hi) {
    return unary_frame("clip", a, Clip{{}, lo, hi});
}

Result<CoreArray> pow_scalar(const CoreArray& a, float exponent) {
    return unary_frame("pow", a, PowScalar{{}, exponent});
}

}  // namespace tessra::ew
