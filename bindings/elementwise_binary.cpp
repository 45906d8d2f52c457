// CoreArray two-operand element-wise methods: array with array, clip and pow.
#include "core_array_object.hpp"
#include "ops/elementwise_binary.hpp"

namespace tessra::py {

namespace {

using ew::BinaryOp;

#define TESSRA_SIG(name) name "($self, other)\n--\n\n"
constexpr OpMethod<BinaryOp> kMethods[] = {
    {"add", BinaryOp::Add, TESSRA_SIG("add") "Element-wise addition: self + other → new CoreArray"},
    {"sub", BinaryOp::Sub,
     TESSRA_SIG("sub") "Element-wise subtraction: self - other → new CoreArray"},
    {"mul", BinaryOp::Mul,
     TESSRA_SIG("mul") "Element-wise multiplication: self * other → new CoreArray"},
    {"div", BinaryOp::Div, TESSRA_SIG("div") "Element-wise division: self / other → new CoreArray"},
    {"eq", BinaryOp::Eq,
     TESSRA_SIG("eq") "Element-wise equality: self == other → Float32 CoreArray of 1.0 and 0.0"},
    {"ne", BinaryOp::Ne, TESSRA_SIG("ne") "Element-wise not-equal: self != other"},
    {"gt", BinaryOp::Gt, TESSRA_SIG("gt") "Element-wise greater-than: self > other"},
    {"lt", BinaryOp::Lt, TESSRA_SIG("lt") "Element-wise less-than: self < other"},
    {"ge", BinaryOp::Ge, TESSRA_SIG("ge") "Element-wise greater-or-equal: self >= other"},
    {"le", BinaryOp::Le, TESSRA_SIG("le") "Element-wise less-or-equal: self <= other"},
    {"power", BinaryOp::Power, TESSRA_SIG("power") "Element-wise power: self^other (array)"},
    {"mod_op", BinaryOp::Mod, TESSRA_SIG("mod_op") "Element-wise modulo: self % other"},
    {"floor_div", BinaryOp::FloorDiv,
     TESSRA_SIG("floor_div") "Element-wise floor division: self // other"},
    {"logical_and", BinaryOp::LogicalAnd,
     TESSRA_SIG("logical_and") "Element-wise logical AND (0.0 = false, non-zero = true)"},
    {"logical_or", BinaryOp::LogicalOr, TESSRA_SIG("logical_or") "Element-wise logical OR"},
    {"logical_xor", BinaryOp::LogicalXor, TESSRA_SIG("logical_xor") "Element-wise logical XOR"},
    {"arctan2", BinaryOp::Arctan2, TESSRA_SIG("arctan2")},
    {"copysign", BinaryOp::Copysign, TESSRA_SIG("copysign")},
    {"hypot", BinaryOp::Hypot, TESSRA_SIG("hypot")},
    {"bitwise_and", BinaryOp::BitwiseAnd, TESSRA_SIG("bitwise_and")},
    {"bitwise_or", BinaryOp::BitwiseOr, TESSRA_SIG("bitwise_or")},
    {"bitwise_xor", BinaryOp::BitwiseXor, TESSRA_SIG("bitwise_xor")},
    {"left_shift", BinaryOp::LeftShift, TESSRA_SIG("left_shift")},
    {"right_shift", BinaryOp::RightShift, TESSRA_SIG("right_shift")},
};
#undef TESSRA_SIG

template <size_t I>
PyObject* m_binary(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    constexpr const OpMethod<BinaryOp>& m = kMethods[I];
    return guard([&] {
        Args a(m.name, {{"other"}}, args, n, kw);
        SharedArray me(as_array(self));
        SharedArray other(a.get(0, load_core_array));
        return wrap(ew::binary(m.op, *me, *other));
    });
}

PyObject* m_clip(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("clip", {{"min_val"}, {"max_val"}}, args, n, kw);
        SharedArray me(as_array(self));
        float lo = a.get(0, load_f32);
        float hi = a.get(1, load_f32);
        return wrap(ew::clip(*me, lo, hi));
    });
}

PyObject* m_pow(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("pow", {{"exponent"}}, args, n, kw);
        SharedArray me(as_array(self));
        float exponent = a.get(0, load_f32);
        return wrap(ew::pow_scalar(*me, exponent));
    });
}

}  // namespace

void add_elementwise_binary_methods(MethodTable& t) {
    static_assert(std::size(kMethods) == ew::kBinaryOpCount);
    add_each<std::size(kMethods)>(t, [](auto i) {
        return PyMethodDef{kMethods[i].name, TESSRA_FASTCALL(m_binary<i>), kArgsKw, kMethods[i].doc};
    });
    t.push_back({"clip", TESSRA_FASTCALL(m_clip), kArgsKw, "clip($self, min_val, max_val)\n--\n\n"});
    t.push_back({"pow", TESSRA_FASTCALL(m_pow), kArgsKw,
                 "pow($self, exponent)\n--\n\nElement-wise power: self^exponent (scalar)"});
}

}  // namespace tessra::py
