// CoreArray one-operand element-wise methods.
#include "core_array_object.hpp"
#include "ops/elementwise_unary.hpp"

namespace tessra::py {

namespace {

using ew::UnaryOp;

#define TESSRA_SIG(name) name "($self)\n--\n\n"
constexpr OpMethod<UnaryOp> kMethods[] = {
    {"square", UnaryOp::Square, TESSRA_SIG("square")},
    {"neg", UnaryOp::Neg, TESSRA_SIG("neg") "Element-wise negation: -self"},
    {"abs", UnaryOp::Abs, TESSRA_SIG("abs") "Element-wise absolute value: |self|"},
    {"reciprocal", UnaryOp::Reciprocal, TESSRA_SIG("reciprocal")},
    {"cbrt", UnaryOp::Cbrt, TESSRA_SIG("cbrt")},
    {"sqrt", UnaryOp::Sqrt, TESSRA_SIG("sqrt") "Element-wise square root: sqrt(self)"},
    {"exp", UnaryOp::Exp, TESSRA_SIG("exp") "Element-wise exponential: exp(self)"},
    {"log", UnaryOp::Log, TESSRA_SIG("log") "Element-wise natural logarithm: log(self)"},
    {"sin", UnaryOp::Sin, TESSRA_SIG("sin") "Element-wise sine: sin(self)"},
    {"cos", UnaryOp::Cos, TESSRA_SIG("cos")},
    {"tan", UnaryOp::Tan, TESSRA_SIG("tan")},
    {"arcsin", UnaryOp::Arcsin, TESSRA_SIG("arcsin")},
    {"arccos", UnaryOp::Arccos, TESSRA_SIG("arccos")},
    {"arctan", UnaryOp::Arctan, TESSRA_SIG("arctan")},
    {"sinh", UnaryOp::Sinh, TESSRA_SIG("sinh")},
    {"cosh", UnaryOp::Cosh, TESSRA_SIG("cosh")},
    {"tanh", UnaryOp::Tanh, TESSRA_SIG("tanh")},
    {"arcsinh", UnaryOp::Arcsinh, TESSRA_SIG("arcsinh")},
    {"arccosh", UnaryOp::Arccosh, TESSRA_SIG("arccosh")},
    {"arctanh", UnaryOp::Arctanh, TESSRA_SIG("arctanh")},
    {"exp2", UnaryOp::Exp2, TESSRA_SIG("exp2")},
    {"expm1", UnaryOp::Expm1, TESSRA_SIG("expm1")},
    {"log2", UnaryOp::Log2, TESSRA_SIG("log2")},
    {"log10", UnaryOp::Log10, TESSRA_SIG("log10")},
    {"log1p", UnaryOp::Log1p, TESSRA_SIG("log1p")},
    {"degrees_op", UnaryOp::Degrees, TESSRA_SIG("degrees_op")},
    {"radians_op", UnaryOp::Radians, TESSRA_SIG("radians_op")},
    {"floor_op", UnaryOp::Floor, TESSRA_SIG("floor_op")},
    {"ceil_op", UnaryOp::Ceil, TESSRA_SIG("ceil_op")},
    {"trunc_op", UnaryOp::Trunc, TESSRA_SIG("trunc_op")},
    {"round_op", UnaryOp::Round, TESSRA_SIG("round_op")},
    {"rint", UnaryOp::Rint, TESSRA_SIG("rint")},
    {"sign_op", UnaryOp::Sign, TESSRA_SIG("sign_op")},
    {"logical_not", UnaryOp::LogicalNot, TESSRA_SIG("logical_not") "Element-wise logical NOT (unary)"},
    {"bitwise_not", UnaryOp::BitwiseNot, TESSRA_SIG("bitwise_not")},
    {"is_even", UnaryOp::IsEven,
     TESSRA_SIG("is_even") "Element-wise is_even: returns 1.0 where x % 2 == 0, else 0.0"},
    {"is_odd", UnaryOp::IsOdd,
     TESSRA_SIG("is_odd") "Element-wise is_odd: returns 1.0 where x % 2 != 0, else 0.0"},
};
#undef TESSRA_SIG

template <size_t I>
PyObject* m_unary(PyObject* self, PyObject*) {
    return guard([&] {
        SharedArray me(as_array(self));
        return wrap(ew::unary(kMethods[I].op, *me));
    });
}

}  // namespace

void add_elementwise_unary_methods(MethodTable& t) {
    static_assert(std::size(kMethods) == ew::kUnaryOpCount);
    add_each<std::size(kMethods)>(t, [](auto i) {
        return PyMethodDef{kMethods[i].name, m_unary<i>, METH_NOARGS, kMethods[i].doc};
    });
}

}  // namespace tessra::py
