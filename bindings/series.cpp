// The Series class, and the converters the table classes share.
#include <bit>

#include "table_objects.hpp"
#include "util/panic.hpp"

namespace tessra::py {

// ---- shared converters --------------------------------------------------------------------

Series load_series_copy(PyObject* o) {
    if (!PyObject_TypeCheck(o, series_type_object())) raise_cannot_convert(o, "Series");
    Shared<SeriesObject> s(as_series(o));
    return clone_series(*s);
}

int refuse_delete() {
    // Text Python callers see, the same as for a built-in read-only property.
    PyErr_SetString(PyExc_AttributeError, "property has no deleter");
    return -1;
}

namespace {

using SharedSeries = Shared<SeriesObject>;
using ExclusiveSeries = Exclusive<SeriesObject>;

PyObject* labels_list(const Labels& labels) {
    return new_list(labels.size(), [&](size_t i) { return new_str(labels.text(i)); });
}

PyObject* series_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard([&] {
        Args a("Series", {{"name"}, {"data"}, {"index", true}}, args, kwargs);
        std::string name = a.get(0, load_str);
        SharedArray data(a.get(1, load_core_array));
        std::optional<std::vector<std::string>> index = a.get_optional(2, load_strs);
        Series s = unwrap(make_series(std::move(name), *data, std::move(index)));
        return new_table_object<SeriesObject>(type, std::move(s));
    });
}

// ---- properties ---------------------------------------------------------------------------

template <class F>
PyObject* getter(PyObject* self, F&& f) {
    return guard([&] {
        SharedSeries s(as_series(self));
        return f(*s);
    });
}

PyObject* get_name(PyObject* self, void*) {
    return getter(self, [](const Series& s) { return new_str(s.name); });
}
PyObject* get_data(PyObject* self, void*) {
    return getter(self, [](const Series& s) { return wrap(core_array_clone(s.data)); });
}
PyObject* get_index(PyObject* self, void*) {
    return getter(self, [](const Series& s) { return labels_list(s.index); });
}
PyObject* get_dtype(PyObject* self, void*) {
    return getter(self, [](const Series& s) { return PyUnicode_FromString(dtype_name(s.data.dtype)); });
}

int set_name(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) return refuse_delete();
    return guard_int([&] {
        std::string name = load_property("name", value, load_str);
        ExclusiveSeries s(as_series(self));
        s->name = std::move(name);
        return 0;
    });
}

int set_data(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) return refuse_delete();
    return guard_int([&] {
        CoreArray copy;
        {
            SharedArray a(load_property("data", value, load_core_array));
            copy = core_array_clone(*a);
        }
        ExclusiveSeries s(as_series(self));
        s->data = std::move(copy);
        return 0;
    });
}

int set_index(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) return refuse_delete();
    return guard_int([&] {
        std::vector<std::string> labels = load_property("index", value, load_strs);
        ExclusiveSeries s(as_series(self));
        s->index = Labels(std::move(labels));
        return 0;
    });
}

PyGetSetDef kProperties[] = {
    {"name", get_name, set_name, nullptr, nullptr},
    {"data", get_data, set_data, nullptr, nullptr},
    {"index", get_index, set_index, nullptr, nullptr},
    {"values", get_data, nullptr, nullptr, nullptr},
    {"dtype", get_dtype, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- methods ------------------------------------------------------------------------------

PyObject* m_head(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("head", {{"n"}}, args, n, kw);
        SharedSeries s(as_series(self));
        return wrap(series_head(*s, a.get_optional(0, load_u64)));
    });
}

PyObject* m_tail(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("tail", {{"n"}}, args, n, kw);
        SharedSeries s(as_series(self));
        return wrap(series_tail(*s, a.get_optional(0, load_u64)));
    });
}

PyObject* m_unique(PyObject* self, PyObject*) {
    return guard([&] {
        SharedSeries s(as_series(self));
        return wrap(series_unique(*s));
    });
}

PyObject* m_value_counts(PyObject* self, PyObject*) {
    return guard([&] {
        SharedSeries s(as_series(self));
        ValueCounts vc = unwrap(series_value_counts(*s));
        Ref dict = Ref::steal(PyDict_New());
        for (size_t i = 0; i < vc.keys.size(); ++i) {
            const uint32_t k = vc.keys[i];
            Ref key = Ref::steal(vc.int_keys ? PyLong_FromLong(static_cast<int32_t>(k))
                                             : PyFloat_FromDouble(std::bit_cast<float>(k)));
            // Keys arrive in first-occurrence order; one that the dict finds equal to an earlier
            // key (-0.0 and 0.0) adds its count there instead of replacing it.
            uint64_t count = vc.counts[i];
            if (PyObject* earlier = PyDict_GetItemWithError(dict.get(), key.get())) {
                count += PyLong_AsUnsignedLongLong(earlier);
            } else if (PyErr_Occurred()) {
                throw PyErrSet{};
            }
            dict_set(dict.get(), key, Ref::steal(PyLong_FromUnsignedLongLong(count)));
        }
        return dict.release();
    });
}

PyMethodDef kMethods[] = {
    {"head", TESSRA_FASTCALL(m_head), kArgsKw, "head($self, n)\n--\n\n"},
    {"tail", TESSRA_FASTCALL(m_tail), kArgsKw, "tail($self, n)\n--\n\n"},
    {"unique", m_unique, METH_NOARGS, "unique($self)\n--\n\n"},
    {"value_counts", m_value_counts, METH_NOARGS, "value_counts($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("Series(name, data, index=None)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(series_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc<SeriesObject>)},
    {Py_tp_getset, kProperties},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = {TESSRA_CLASS_NAME("Series"), static_cast<int>(sizeof(SeriesObject)), 0,
                     Py_TPFLAGS_DEFAULT, kSlots};

}  // namespace

PyTypeObject* series_type_object() {
    static PyTypeObject* type = [] {
        return make_type(kSpec, "Series");
    }();
    return type;
}

}  // namespace tessra::py
