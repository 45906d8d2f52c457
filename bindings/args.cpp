#include "args.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "util/panic.hpp"

namespace tessra::py {

// The parser's and converters' messages are texts Python callers match on; the parser's follow
// CPython's own wording.

namespace {

[[noreturn]] void raise_type_error(const std::string& message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw PyErrSet{};
}

std::string plural(size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace

Args::Args(const char* fname, std::initializer_list<Param> params, PyObject* const* args,
           Py_ssize_t nargs, PyObject* kwnames)
    : Args(fname, std::span<const Param>(params.begin(), params.size()), args, nargs, kwnames) {}

Args::Args(const char* fname, std::span<const Param> params, PyObject* const* args,
           Py_ssize_t nargs, PyObject* kwnames)
    : fname_(fname) {
    take_params(params);
    bind(args, nargs);
    if (kwnames != nullptr) {
        Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k)
            bind_keyword(PyTuple_GET_ITEM(kwnames, k), args[nargs + k]);
    }
    finish();
}

Args::Args(const char* fname, std::initializer_list<Param> params, PyObject* args,
           PyObject* kwargs)
    : fname_(fname) {
    take_params(std::span<const Param>(params.begin(), params.size()));
    bind(&PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args));
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(key, value);
    }
    finish();
}

void Args::take_params(std::span<const Param> params) {
    if (params.size() > kMaxParams) panic("too many parameters for the argument parser");
    std::copy(params.begin(), params.end(), params_);
    count_ = params.size();
}

void Args::bind(PyObject* const* args, Py_ssize_t nargs) {
    const size_t n = static_cast<size_t>(nargs);
    if (n > count_) {
        size_t required = 0;
        for (size_t i = 0; i < count_; ++i) required += !params_[i].optional;
        std::string takes = required == count_
                                ? plural(count_, "positional argument")
                                : "from " + std::to_string(required) + " to " +
                                      plural(count_, "positional argument");
        raise_type_error(std::string(fname_) + "() takes " + takes + " but " + std::to_string(n) +
                         (n == 1 ? " was" : " were") + " given");
    }
    for (size_t i = 0; i < n; ++i) values_[i] = args[i];
}

void Args::bind_keyword(PyObject* key, PyObject* value) {
    if (!PyUnicode_Check(key)) raise_type_error(std::string(fname_) + "() keywords must be strings");
    // Compared and quoted whole: a keyword with a NUL in it is not the parameter before the NUL.
    Py_ssize_t len = 0;
    const char* name = PyUnicode_AsUTF8AndSize(key, &len);
    if (name == nullptr) PyErr_Clear();  // not encodable, so it names no parameter
    for (size_t i = 0; name != nullptr && i < count_; ++i) {
        if (std::string_view(params_[i].name) != std::string_view(name, static_cast<size_t>(len)))
            continue;
        if (values_[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%U'", fname_, key);
            throw PyErrSet{};
        }
        values_[i] = value;
        return;
    }
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", fname_, key);
    throw PyErrSet{};
}

void Args::finish() {
    std::vector<const char*> missing;
    for (size_t i = 0; i < count_; ++i)
        if (values_[i] == nullptr && !params_[i].optional) missing.push_back(params_[i].name);
    if (missing.empty()) return;
    std::string names;
    for (size_t i = 0; i < missing.size(); ++i) {
        if (i) names += (i + 1 == missing.size()) ? (missing.size() > 2 ? ", and " : " and ") : ", ";
        names += std::string("'") + missing[i] + "'";
    }
    raise_type_error(std::string(fname_) + "() missing " +
                     plural(missing.size(), "required positional argument") + ": " + names);
}

void prefix_type_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    PyObject* text = value ? PyObject_Str(value) : nullptr;
    if (text == nullptr) {
        PyErr_Restore(type, value, tb);
        return;
    }
    PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, text);
    Py_DECREF(text);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(tb);
}

// ---- converters -------------------------------------------------------------------------

void raise_cannot_convert(PyObject* o, const char* target) {
    // The class's own name, without its module ("CoreArray", not "tessra._tessra_rust.CoreArray").
    const char* name = Py_TYPE(o)->tp_name;
    if (const char* dot = std::strrchr(name, '.')) name = dot + 1;
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to '%s'", name, target);
    throw PyErrSet{};
}

uint64_t load_u64(PyObject* o) {
    if (PyLong_Check(o)) {
        unsigned long long v = PyLong_AsUnsignedLongLong(o);
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PyErrSet{};
        return v;
    }
    PyObject* index = check(PyNumber_Index(o));
    unsigned long long v = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PyErrSet{};
    return v;
}

int64_t load_i64(PyObject* o) {
    long long v = PyLong_AsLongLong(o);  // uses __index__ for non-ints
    if (v == -1 && PyErr_Occurred()) throw PyErrSet{};
    return v;
}

double load_f64(PyObject* o) {
    if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw PyErrSet{};
    return v;
}

bool load_bool(PyObject* o) {
    if (o == Py_True) return true;
    if (o == Py_False) return false;
    // NumPy's boolean scalar counts by its truth.
    const char* name = Py_TYPE(o)->tp_name;
    if (std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0) {
        int truth = PyObject_IsTrue(o);
        if (truth < 0) throw PyErrSet{};
        return truth != 0;
    }
    raise_cannot_convert(o, "PyBool");
}

std::string load_str(PyObject* o) {
    if (!PyUnicode_Check(o)) raise_cannot_convert(o, "PyString");
    Py_ssize_t len = 0;
    const char* s = check(PyUnicode_AsUTF8AndSize(o, &len));
    return std::string(s, static_cast<size_t>(len));
}

void check_sequence(PyObject* o) {
    if (PyUnicode_Check(o)) raise_type_error("Can't extract `str` to `Vec`");
    if (!PySequence_Check(o)) raise_cannot_convert(o, "Sequence");
}

size_t reserve_hint(PyObject* o) {
    // Enough to skip the small regrowths; a larger sequence grows its vector as it yields.
    constexpr Py_ssize_t kCap = Py_ssize_t{1} << 16;
    if (PyList_Check(o) || PyTuple_Check(o)) return static_cast<size_t>(PySequence_Fast_GET_SIZE(o));
    if (PyUnicode_Check(o) || !PySequence_Check(o)) return 0;
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) {
        PyErr_Clear();
        return 0;
    }
    return static_cast<size_t>(std::min(n, kCap));
}

FloatBuffer load_float_buffer(PyObject* o) {
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) {
        // Exact floats and ints convert without running Python code, so the list cannot change
        // under this loop; the first other item sends the whole sequence down the general path.
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(o);
        PyObject* const* items = PySequence_Fast_ITEMS(o);
        AlignedBuffer buf = AlignedBuffer::uninit(static_cast<uint64_t>(n) * sizeof(float));
        float* out = buf.as<float>();
        Py_ssize_t i = 0;
        for (; i < n; ++i) {
            PyObject* it = items[i];
            double v;
            if (PyFloat_CheckExact(it)) {
                v = PyFloat_AS_DOUBLE(it);
            } else if (PyLong_CheckExact(it)) {
                v = PyLong_AsDouble(it);
                if (v == -1.0 && PyErr_Occurred()) throw PyErrSet{};
            } else {
                break;
            }
            out[i] = static_cast<float>(v);
        }
        if (i == n) return {std::move(buf), static_cast<uint64_t>(n)};
    }
    std::vector<float> values = load_vector<float>(o, load_f32);
    AlignedBuffer buf = AlignedBuffer::uninit(values.size() * sizeof(float));
    if (!values.empty()) std::memcpy(buf.data(), values.data(), values.size() * sizeof(float));
    return {std::move(buf), values.size()};
}

}  // namespace tessra::py
