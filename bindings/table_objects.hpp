#pragma once
// The Python table classes Series, DataFrame and GroupBy: object layouts, class objects, the
// move of a result into a new object, and the converters the table methods share.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "borrow.hpp"
#include "core_array_object.hpp"
#include "dataframe/frame.hpp"
#include "dataframe/groupby.hpp"
#include "dataframe/series.hpp"

namespace tessra::py {

struct SeriesObject {
    PyObject_HEAD
    BorrowFlag borrow;
    Series value;
};
struct DataFrameObject {
    PyObject_HEAD
    BorrowFlag borrow;
    DataFrame value;
};
struct GroupByObject {
    PyObject_HEAD
    BorrowFlag borrow;
    GroupBy value;
};

PyTypeObject* series_type_object();
PyTypeObject* dataframe_type_object();
PyTypeObject* groupby_type_object();

// Moves `value` into a new object of `type`; on failure the value is released by the caller.
template <class Obj, class V>
PyObject* new_table_object(PyTypeObject* type, V&& value) {
    PyObject* obj = check(type->tp_alloc(type, 0));
    auto* o = reinterpret_cast<Obj*>(obj);
    new (&o->borrow) BorrowFlag();
    new (&o->value) decltype(Obj::value)(std::forward<V>(value));
    return obj;
}
template <class Obj>
void table_dealloc(PyObject* self) {
    using Value = decltype(Obj::value);
    PyTypeObject* tp = Py_TYPE(self);
    reinterpret_cast<Obj*>(self)->value.~Value();
    tp->tp_free(self);
    Py_DECREF(tp);
}

inline PyObject* wrap(Series&& s) { return new_table_object<SeriesObject>(series_type_object(), std::move(s)); }
inline PyObject* wrap(Result<Series>&& r) { return wrap(unwrap(std::move(r))); }
inline PyObject* wrap(DataFrame&& df) {
    return new_table_object<DataFrameObject>(dataframe_type_object(), std::move(df));
}
inline PyObject* wrap(Result<DataFrame>&& r) { return wrap(unwrap(std::move(r))); }

inline SeriesObject* as_series(PyObject* o) { return reinterpret_cast<SeriesObject*>(o); }
inline DataFrameObject* as_frame(PyObject* o) { return reinterpret_cast<DataFrameObject*>(o); }
inline GroupByObject* as_groupby(PyObject* o) { return reinterpret_cast<GroupByObject*>(o); }

// ---- converters -------------------------------------------------------------------------
// A Series argument, copied under a shared borrow.
Series load_series_copy(PyObject* o);
// A dict with str keys; `value` converts each value.
template <class Load>
auto load_str_dict(PyObject* o, Load value) {
    if (!PyDict_Check(o)) raise_cannot_convert(o, "PyDict");
    std::vector<std::pair<std::string, decltype(value(o))>> out;
    out.reserve(static_cast<size_t>(PyDict_Size(o)));
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(o, &pos, &k, &v)) {
        // Held while they convert, like the items of a sequence argument.
        Ref key = Ref::hold(k), val = Ref::hold(v);
        std::string text = load_str(key.get());
        out.emplace_back(std::move(text), value(val.get()));
    }
    return out;
}

// ---- properties -------------------------------------------------------------------------
// AttributeError "property has no deleter".
int refuse_delete();
// Converts a property's new value, naming the property in a TypeError.
template <class Load>
auto load_property(const char* name, PyObject* value, Load load) -> decltype(load(value)) {
    try {
        return load(value);
    } catch (const PyErrSet&) {
        prefix_type_error(name);
        throw;
    }
}

// ---- method groups of DataFrame -----------------------------------------------------------
void add_dataframe_methods(MethodTable& t);
void add_groupby_methods(MethodTable& t);
void add_join_pivot_methods(MethodTable& t);

}  // namespace tessra::py
