#pragma once
// Owned references and the builders of the lists and dicts handed back to Python.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <string_view>
#include <utility>

#include "errors.hpp"

namespace tessra::py {

// A strong reference, released on every path out of a scope.
class Ref {
public:
    Ref() = default;
    // Takes over a new reference; null means the call that made it failed with the error set.
    static Ref steal(PyObject* p) { return Ref(check(p)); }
    // Adds a reference to an object borrowed from elsewhere (a container's item, an argument).
    static Ref hold(PyObject* p) {
        Py_INCREF(p);
        return Ref(p);
    }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }

private:
    explicit Ref(PyObject* p) : p_(p) {}
    PyObject* p_ = nullptr;
};

// A new str holding every byte of `s` (NUL bytes included).
inline PyObject* new_str(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

// A new list of n items; item(i) returns a new reference, or null with the error set.
template <class Item>
PyObject* new_list(size_t n, Item&& item) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    for (size_t i = 0; i < n; ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Ref::steal(item(i)).release());
    return list.release();
}

// dict[key] = value.
inline void dict_set(PyObject* dict, const Ref& key, const Ref& value) {
    check_status(PyDict_SetItem(dict, key.get(), value.get()));
}

// dict[key] = value, taking over the new reference `value` (null: its maker's error is raised).
inline void dict_set(PyObject* dict, const char* key, PyObject* value) {
    Ref v = Ref::steal(value);
    check_status(PyDict_SetItemString(dict, key, v.get()));
}

}  // namespace tessra::py
