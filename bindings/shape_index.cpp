// CoreArray shape and indexing methods.
#include "array/shape_index.hpp"

#include "core_array_object.hpp"

namespace tessra::py {

namespace {

PyObject* m_reshape(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("reshape", {{"new_shape"}}, args, n, kw);
        SharedArray me(as_array(self));
        Shape shape = a.get(0, load_sizes);
        return wrap(reshape(*me, std::move(shape)));
    });
}

PyObject* m_transpose(PyObject* self, PyObject*) {
    return guard([&] {
        SharedArray me(as_array(self));
        return wrap(transpose(*me));
    });
}

PyObject* m_getitem(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("getitem", {{"index"}}, args, n, kw);
        SharedArray me(as_array(self));
        int64_t index = a.get(0, load_i64);
        return wrap(getitem(*me, index));
    });
}

PyObject* m_get_scalar(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("get_scalar", {{"index"}}, args, n, kw);
        SharedArray me(as_array(self));
        uint64_t index = a.get(0, load_u64);
        return check(PyFloat_FromDouble(unwrap(get_scalar(*me, index))));
    });
}

PyObject* m_take(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("take", {{"indices"}}, args, n, kw);
        SharedArray me(as_array(self));
        SharedArray indices(a.get(0, load_core_array));
        return wrap(take(*me, *indices));
    });
}

PyObject* m_boolean_index(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("boolean_index", {{"mask"}}, args, n, kw);
        SharedArray me(as_array(self));
        SharedArray mask(a.get(0, load_core_array));
        return wrap(boolean_index(*me, *mask));
    });
}

}  // namespace

void add_shape_index_methods(MethodTable& t) {
    t.push_back({"reshape", TESSRA_FASTCALL(m_reshape), kArgsKw,
                 "reshape($self, new_shape)\n--\n\nReshape the array: a new array holding a copy of the "
                 "data in the new shape (same element count)."});
    t.push_back({"transpose", m_transpose, METH_NOARGS,
                 "transpose($self)\n--\n\nTranspose a 2D array (swap rows and columns)."});
    t.push_back({"getitem", TESSRA_FASTCALL(m_getitem), kArgsKw,
                 "getitem($self, index)\n--\n\nIndex along the first axis (like array[i]).\nFor 1D: "
                 "returns a scalar wrapper (1-element array).\nFor ND: returns a sub-array with "
                 "shape[1:]."});
    t.push_back({"get_scalar", TESSRA_FASTCALL(m_get_scalar), kArgsKw,
                 "get_scalar($self, index)\n--\n\nGet a single f32 element by flat index."});
    t.push_back({"take", TESSRA_FASTCALL(m_take), kArgsKw,
                 "take($self, indices)\n--\n\nTake elements from array at given indices."});
    t.push_back({"boolean_index", TESSRA_FASTCALL(m_boolean_index), kArgsKw,
                 "boolean_index($self, mask)\n--\n\nSelect elements where mask is non-zero."});
}

}  // namespace tessra::py
