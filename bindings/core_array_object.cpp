#include "core_array_object.hpp"

#include <new>

#include "enums.hpp"
#include "util/panic.hpp"

namespace tessra::py {

namespace {

void core_array_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    as_array(self)->value.~CoreArray();
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyObject* core_array_repr(PyObject* self) {
    return guard([&] {
        SharedArray a(as_array(self));
        return new_str(tessra::core_array_repr(*a));
    });
}

template <class F>
PyObject* getter(PyObject* self, F&& f) {
    return guard([&] {
        SharedArray a(as_array(self));
        return f(*a);
    });
}

PyObject* list_of(const Shape& s) {
    return new_list(s.size(), [&](size_t i) { return PyLong_FromUnsignedLongLong(s[i]); });
}

PyObject* get_data_ptr(PyObject* self, void*) {
    return getter(self, [](const CoreArray& a) {
        return PyLong_FromUnsignedLongLong(reinterpret_cast<uintptr_t>(a.data.data()));
    });
}
PyObject* get_shape(PyObject* self, void*) {
    return getter(self, [](const CoreArray& a) { return list_of(a.shape); });
}
PyObject* get_strides(PyObject* self, void*) {
    return getter(self, [](const CoreArray& a) { return list_of(a.strides); });
}
PyObject* get_dtype(PyObject* self, void*) {
    return getter(self, [](const CoreArray& a) { return dtype_object(a.dtype); });
}
PyObject* get_ndim(PyObject* self, void*) {
    return getter(self, [](const CoreArray& a) { return PyLong_FromUnsignedLongLong(a.ndim()); });
}
PyObject* get_element_count(PyObject* self, void*) {
    return getter(self,
                  [](const CoreArray& a) { return PyLong_FromUnsignedLongLong(a.element_count()); });
}
PyObject* get_nbytes(PyObject* self, void*) {
    return getter(self, [](const CoreArray& a) { return PyLong_FromUnsignedLongLong(a.data.size()); });
}

PyGetSetDef kProperties[] = {
    {"data_ptr", get_data_ptr, nullptr, "Raw pointer to the data buffer (for FFI).", nullptr},
    {"shape", get_shape, nullptr, "Shape of the array.", nullptr},
    {"strides", get_strides, nullptr, "Byte strides of the array.", nullptr},
    {"dtype", get_dtype, nullptr, "Data type of the array.", nullptr},
    {"ndim", get_ndim, nullptr, "Number of dimensions.", nullptr},
    {"element_count", get_element_count, nullptr, "Total number of elements.", nullptr},
    {"nbytes", get_nbytes, nullptr, "Total size in bytes.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* m_to_list(PyObject* self, PyObject*) {
    return guard([&] {
        SharedArray a(as_array(self));
        // A text Python callers match on, like every message of the core.
        if (!a->is_f32()) throw type_error("to_list() currently only supports Float32");
        const float* v = a->f32();
        return new_list(a->element_count(), [&](size_t i) { return PyFloat_FromDouble(v[i]); });
    });
}

PyObject* m_is_contiguous(PyObject* self, PyObject*) {
    return guard([&] {
        SharedArray a(as_array(self));
        return PyBool_FromLong(a->is_contiguous());
    });
}

constexpr const char kCoreArrayDoc[] =
    "CoreArray(data, shape)\n--\n\n"
    "The native n-dimensional array and the primary backing store for `tessra` arrays.\n"
    "\n"
    "Features:\n"
    "- 64-byte aligned memory (SIMD-optimal)\n"
    "- C-contiguous row-major layout\n"
    "- Zero-copy pointer exposure for FFI\n"
    "- PyO3-exposed for direct Python access";

}  // namespace

void add_core_array_view_methods(MethodTable& t) {
    t.push_back({"to_list", m_to_list, METH_NOARGS,
                 "to_list($self)\n--\n\nReturn the data as a flat list of f32 values (for Python "
                 "interop)."});
    t.push_back({"is_contiguous", m_is_contiguous, METH_NOARGS,
                 "is_contiguous($self)\n--\n\nWhether the array is C-contiguous."});
}

PyTypeObject* core_array_type_object() {
    static PyTypeObject* type = [] {
        static MethodTable methods;
        add_core_array_view_methods(methods);
        add_construction_methods(methods);
        add_shape_index_methods(methods);
        add_reduction_methods(methods);
        add_sort_methods(methods);
        add_elementwise_binary_methods(methods);
        add_elementwise_unary_methods(methods);
        add_matmul_methods(methods);
        add_linalg_methods(methods);
        methods.push_back({nullptr, nullptr, 0, nullptr});

        static PyType_Slot slots[] = {
            {Py_tp_doc, const_cast<char*>(kCoreArrayDoc)},
            {Py_tp_new, reinterpret_cast<void*>(core_array_new)},
            {Py_tp_dealloc, reinterpret_cast<void*>(core_array_dealloc)},
            {Py_tp_repr, reinterpret_cast<void*>(core_array_repr)},
            {Py_tp_getset, kProperties},
            {Py_tp_methods, methods.data()},
            {0, nullptr},
        };
        static PyType_Spec spec = {TESSRA_CLASS_NAME("CoreArray"),
                                   static_cast<int>(sizeof(CoreArrayObject)), 0,
                                   Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, slots};
        return make_type(spec, "CoreArray");
    }();
    return type;
}

PyObject* new_core_array_object(CoreArray&& a, PyTypeObject* type) {
    if (type == nullptr) type = core_array_type_object();
    PyObject* obj = check(type->tp_alloc(type, 0));
    auto* o = as_array(obj);
    new (&o->borrow) BorrowFlag();
    new (&o->value) CoreArray(std::move(a));
    return obj;
}

CoreArrayObject* load_core_array(PyObject* o) {
    if (!PyObject_TypeCheck(o, core_array_type_object())) raise_cannot_convert(o, "CoreArray");
    return as_array(o);
}

}  // namespace tessra::py
