// CoreArray constructors: CoreArray(data, shape), the static makers and the *_like methods.
#include "array/construct.hpp"

#include "core_array_object.hpp"
#include "enums.hpp"

namespace tessra::py {

PyObject* core_array_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard([&] {
        Args a("CoreArray", {{"data"}, {"shape"}}, args, kwargs);
        FloatBuffer values = a.get(0, load_float_buffer);
        Shape shape = a.get(1, load_sizes);
        CoreArray arr = unwrap(from_buffer(std::move(shape), std::move(values.data), values.count));
        return new_core_array_object(std::move(arr), type);
    });
}

namespace {

PyObject* s_zeros(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("zeros", {{"shape"}, {"dtype", true}}, args, n, kw);
        Shape shape = a.get(0, load_sizes);
        DType dtype = a.get_optional(1, load_dtype).value_or(DType::Float32);
        return wrap(zeroed(std::move(shape), dtype));
    });
}

PyObject* s_ones(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("ones", {{"shape"}}, args, n, kw);
        return wrap(full(a.get(0, load_sizes), 1.0f));
    });
}

PyObject* s_full(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("full", {{"shape"}, {"value"}}, args, n, kw);
        Shape shape = a.get(0, load_sizes);
        float value = a.get(1, load_f32);
        return wrap(full(std::move(shape), value));
    });
}

PyObject* s_arange(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("arange", {{"start"}, {"stop"}, {"step", true}}, args, n, kw);
        double start = a.get(0, load_f64);
        double stop = a.get(1, load_f64);
        std::optional<double> step = a.get_optional(2, load_f64);
        return wrap(arange(start, stop, step));
    });
}

PyObject* s_linspace(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("linspace", {{"start"}, {"stop"}, {"num"}}, args, n, kw);
        double start = a.get(0, load_f64);
        double stop = a.get(1, load_f64);
        uint64_t num = a.get(2, load_u64);
        return wrap(linspace(start, stop, num));
    });
}

// The arrays of a sequence argument, each held and borrowed shared until this goes away.
struct BorrowedArrays {
    std::vector<Ref> held;
    std::vector<SharedArray> borrows;
    std::vector<const CoreArray*> arrays;
};

BorrowedArrays load_borrowed_arrays(PyObject* o) {
    BorrowedArrays out;
    // Every item is checked before any is borrowed.
    out.held = load_vector<Ref>(o, [](PyObject* it) { return Ref::hold(&load_core_array(it)->ob_base); });
    out.borrows.reserve(out.held.size());
    for (const Ref& obj : out.held) {
        out.borrows.emplace_back(as_array(obj.get()));
        out.arrays.push_back(&*out.borrows.back());
    }
    return out;
}

PyObject* s_concatenate(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("concatenate", {{"arrays"}}, args, n, kw);
        BorrowedArrays in = a.get(0, load_borrowed_arrays);
        return wrap(concatenate(in.arrays));
    });
}

PyObject* m_zeros_like(PyObject* self, PyObject*) {
    return guard([&] {
        SharedArray a(as_array(self));
        return wrap(zeroed(a->shape, a->dtype));
    });
}

PyObject* m_ones_like(PyObject* self, PyObject*) {
    return guard([&] {
        SharedArray a(as_array(self));
        return wrap(full(a->shape, 1.0f));
    });
}

PyObject* m_full_like(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("full_like", {{"value"}}, args, n, kw);
        SharedArray me(as_array(self));
        float value = a.get(0, load_f32);
        return wrap(full(me->shape, value));
    });
}

}  // namespace

void add_construction_methods(MethodTable& t) {
    constexpr int kStatic = kArgsKw | METH_STATIC;
    t.push_back({"zeros", TESSRA_FASTCALL(s_zeros), kStatic,
                 "zeros(shape, dtype=None)\n--\n\nCreate a array filled with zeros."});
    t.push_back({"ones", TESSRA_FASTCALL(s_ones), kStatic,
                 "ones(shape)\n--\n\nCreate a array filled with ones (f32)."});
    t.push_back({"full", TESSRA_FASTCALL(s_full), kStatic,
                 "full(shape, value)\n--\n\nCreate a array filled with a constant value."});
    t.push_back({"arange", TESSRA_FASTCALL(s_arange), kStatic,
                 "arange(start, stop, step=None)\n--\n\nCreate a array with evenly spaced values: "
                 "[start, start+step, ...)."});
    t.push_back({"concatenate", TESSRA_FASTCALL(s_concatenate), kStatic,
                 "concatenate(arrays)\n--\n\nConcatenate multiple arrays along axis 0."});
    t.push_back({"linspace", TESSRA_FASTCALL(s_linspace), kStatic,
                 "linspace(start, stop, num)\n--\n\nCreate evenly spaced values over [start, stop]."});
    t.push_back({"zeros_like", m_zeros_like, METH_NOARGS,
                 "zeros_like($self)\n--\n\nCreate zeros with same shape."});
    t.push_back({"ones_like", m_ones_like, METH_NOARGS,
                 "ones_like($self)\n--\n\nCreate ones with same shape."});
    t.push_back({"full_like", TESSRA_FASTCALL(m_full_like), kArgsKw,
                 "full_like($self, value)\n--\n\nCreate filled with value, same shape."});
}

}  // namespace tessra::py
