#pragma GCC optimize("no-math-errno", "no-trapping-math")  // see elementwise_runner.hpp
#include "ops/elementwise_unary.hpp"

#include <iterator>

#include "ops/elementwise_runner.hpp"
#include "ops/elementwise_unary_ops.hpp"
#include "scheduler/arena.hpp"

namespace tessra::ew {

namespace {

using Runner = Result<CoreArray> (*)(std::string_view, const CoreArray&);

template <class Op>
Result<CoreArray> run(std::string_view word, const CoreArray& a) {
    return unary_frame(word, a, Op{});
}

// Holds the calling thread's Arena for the length of the loop (it places nothing in it).
template <class Op>
Result<CoreArray> run_in_arena(std::string_view word, const CoreArray& a) {
    if (!a.is_f32()) return f32_only(word);
    return with_thread_arena([&](Arena&) { return unary_frame(word, a, Op{}); });
}

struct Entry {
    std::string_view word;
    Runner run;
};

// In the order of UnaryOp.
constexpr Entry kOps[] = {
    {"square", run<Square>},
    {"neg", run<Neg>},
    {"abs", run<Abs>},
    {"reciprocal", run<Reciprocal>},
    {"cbrt", run<Cbrt>},
    {"cos", run<Cos>},
    {"tan", run<Tan>},
    {"arcsin", run<Arcsin>},
    {"arccos", run<Arccos>},
    {"arctan", run<Arctan>},
    {"sinh", run<Sinh>},
    {"cosh", run<Cosh>},
    {"tanh", run<Tanh>},
    {"exp2", run<Exp2>},
    {"log2", run<Log2>},
    {"log10", run<Log10>},
    {"arcsinh", run<Arcsinh>},
    {"arccosh", run<Arccosh>},
    {"arctanh", run<Arctanh>},
    {"expm1", run<Expm1>},
    {"log1p", run<Log1p>},
    {"degrees", run<Degrees>},
    {"radians", run<Radians>},
    {"floor", run<Floor>},
    {"ceil", run<Ceil>},
    {"trunc", run<Trunc>},
    {"round", run<Round>},
    {"rint", run<Rint>},
    {"sign", run<Sign>},
    {"logical_not", run<LogicalNot>},
    {"bitwise_not", run<BitwiseNot>},
    {"is_even", run<IsEven>},
    {"is_odd", run<IsOdd>},
    {"sin", run_in_arena<Sin>},
    {"exp", run_in_arena<Exp>},
    {"log", run_in_arena<Log>},
    {"sqrt", run_in_arena<Sqrt>},
};
static_assert(std::size(kOps) == kUnaryOpCount);

}  // namespace

std::string_view unary_word(UnaryOp op) { return kOps[static_cast<size_t>(op)].word; }

Result<CoreArray> unary(UnaryOp op, const CoreArray& a) {
    const Entry& e = kOps[static_cast<size_t>(op)];
    return e.run(e.word, a);
}

}  // namespace tessra::ew
