#pragma once
// One argument parser for every function and method, and the converters it applies.
// A converter throws PyErrSet with the Python error set; the parser prefixes a TypeError with
// "argument 'NAME': ".
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "array/aligned_buffer.hpp"
#include "array/core_array.hpp"
#include "errors.hpp"
#include "ref.hpp"

namespace tessra::py {

// Rewrites a pending TypeError as "argument 'NAME': MESSAGE"; other errors stay as they are.
void prefix_type_error(const char* name);

struct Param {
    const char* name;
    bool optional = false;  // shown with a default in the signature
};

class Args {
public:
    // Fast-call form: positional arguments then the values of the keyword names in `kwnames`.
    Args(const char* fname, std::initializer_list<Param> params, PyObject* const* args,
         Py_ssize_t nargs, PyObject* kwnames);
    Args(const char* fname, std::span<const Param> params, PyObject* const* args,
         Py_ssize_t nargs, PyObject* kwnames);
    // Tuple and dict form (tp_new).
    Args(const char* fname, std::initializer_list<Param> params, PyObject* args, PyObject* kwargs);

    // The argument for parameter i, or null when it was omitted.
    PyObject* operator[](size_t i) const { return values_[i]; }
    // Omitted or None.
    bool absent(size_t i) const { return values_[i] == nullptr || values_[i] == Py_None; }

    // Converts parameter i with `load`, naming the parameter in a TypeError.
    template <class Load>
    auto get(size_t i, Load load) const -> decltype(load(static_cast<PyObject*>(nullptr))) {
        try {
            return load(values_[i]);
        } catch (const PyErrSet&) {
            prefix_type_error(params_[i].name);
            throw;
        }
    }
    // As get, with nullopt when omitted or None.
    template <class Load>
    auto get_optional(size_t i, Load load) const
        -> std::optional<decltype(load(static_cast<PyObject*>(nullptr)))> {
        if (absent(i)) return std::nullopt;
        return get(i, load);
    }

private:
    static constexpr size_t kMaxParams = 10;

    void take_params(std::span<const Param> params);
    void bind(PyObject* const* args, Py_ssize_t nargs);
    void bind_keyword(PyObject* key, PyObject* value);
    void finish();

    const char* fname_;
    size_t count_ = 0;  // parameters in use
    Param params_[kMaxParams];
    PyObject* values_[kMaxParams] = {};
};

// ---- converters -------------------------------------------------------------------------
uint64_t load_u64(PyObject* o);
int64_t load_i64(PyObject* o);
double load_f64(PyObject* o);
inline float load_f32(PyObject* o) { return static_cast<float>(load_f64(o)); }
bool load_bool(PyObject* o);
std::string load_str(PyObject* o);

// TypeError "'T' object cannot be converted to 'Target'".
[[noreturn]] void raise_cannot_convert(PyObject* o, const char* target);

// ---- sequence arguments -----------------------------------------------------------------
// TypeError unless `o` is a sequence other than str.
void check_sequence(PyObject* o);

// Calls item(obj) for every element of a sequence argument (a str is refused). Each item is held
// while it converts: converting may run Python code that empties the caller's list. A list is
// read live, as Python's own iteration reads it.
template <class Item>
void for_each_item(PyObject* o, Item&& item) {
    check_sequence(o);
    if (PyList_Check(o) || PyTuple_Check(o)) {
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(o); ++i) {
            Ref held = Ref::hold(PySequence_Fast_GET_ITEM(o, i));
            item(held.get());
        }
        return;
    }
    Ref iter = Ref::steal(PyObject_GetIter(o));
    while (PyObject* next = PyIter_Next(iter.get())) {
        Ref held = Ref::steal(next);
        item(held.get());
    }
    if (PyErr_Occurred()) throw PyErrSet{};
}

// How many items to reserve for a sequence: `__len__` is only a hint (it may claim far more items
// than it yields), so what it says is capped.
size_t reserve_hint(PyObject* o);

template <class T, class Load>
std::vector<T> load_vector(PyObject* o, Load load) {
    std::vector<T> out;
    out.reserve(reserve_hint(o));
    for_each_item(o, [&](PyObject* it) { out.push_back(load(it)); });
    return out;
}

inline Shape load_sizes(PyObject* o) { return load_vector<uint64_t>(o, load_u64); }
inline std::vector<std::string> load_strs(PyObject* o) { return load_vector<std::string>(o, load_str); }

// Items of a float sequence narrowed to f32, straight into aligned storage.
struct FloatBuffer {
    AlignedBuffer data;
    uint64_t count;
};
FloatBuffer load_float_buffer(PyObject* o);

}  // namespace tessra::py
