#pragma once
// Shared parts of the module functions that take caller-owned memory as integer addresses.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <tuple>

#include "args.hpp"

namespace tessra::py {

inline PyObject* to_py(Status s) {
    if (!s) throw s.error();
    Py_RETURN_NONE;
}
inline PyObject* to_py(Result<float> r) { return check(PyFloat_FromDouble(unwrap(std::move(r)))); }
inline PyObject* to_py(Result<int32_t> r) { return check(PyLong_FromLong(unwrap(std::move(r)))); }
inline PyObject* to_py(Result<bool> r) { return PyBool_FromLong(unwrap(std::move(r))); }
inline PyObject* to_py(const std::string& s) {
    return check(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}


// Extracts every parameter as an unsigned 64-bit integer, in order, and returns to_py(Fn(...)).
template <auto Fn, size_t N>
PyObject* u64_entry(const char* fname, const std::array<Param, N>& params, PyObject* const* args,
                    Py_ssize_t n, PyObject* kw) {
    return guard([&]() -> PyObject* {
        Args a(fname, params, args, n, kw);
        std::array<uint64_t, N> v;
        for (size_t i = 0; i < N; ++i) v[i] = a.get(i, load_u64);
        return std::apply([](auto... x) { return to_py(Fn(x...)); }, v);
    });
}

}  // namespace tessra::py
