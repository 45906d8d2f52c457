#pragma once
// The one guard every entry point runs in: core error values, panics and failed allocations
// become Python exceptions here and nowhere else.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <utility>

#include "util/error.hpp"
#include "util/panic.hpp"

namespace tessra::py {

// Thrown when a Python error is already set and the call must unwind.
struct PyErrSet {};

void set_error(const Error& e);
void raise_panic(const char* message);
// The class pyo3_runtime.PanicException (a BaseException subclass), made once.
PyObject* panic_exception_type();

template <class T>
T unwrap(Result<T>&& r) {
    if (!r) throw r.error();
    return std::move(r).value();
}

// Throws PyErrSet when `p` is null (a CPython call failed and set the error).
template <class P>
P* check(P* p) {
    if (p == nullptr) throw PyErrSet{};
    return p;
}
inline void check_status(int rc) {
    if (rc < 0) throw PyErrSet{};
}

// The qualified name of a class of the module, as Python shows it (reprs, messages, pickling).
#define TESSRA_CLASS_NAME(name) "tessra._tessra_rust." name

// Builds a class object from its spec; a class that cannot be built is an invariant failure.
PyTypeObject* make_type(PyType_Spec& spec, const char* name);

template <class R, class F>
R guard_as(R failure, F&& body) noexcept {
    try {
        return body();
    } catch (const PyErrSet&) {
    } catch (const Error& e) {
        set_error(e);
    } catch (const Panic& p) {
        raise_panic(p.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_panic(e.what());
    } catch (...) {
        raise_panic("unknown C++ exception");
    }
    return failure;
}

template <class F>
PyObject* guard(F&& body) noexcept {
    return guard_as<PyObject*>(nullptr, std::forward<F>(body));
}

template <class F>
int guard_int(F&& body) noexcept {
    return guard_as<int>(-1, std::forward<F>(body));
}

}  // namespace tessra::py
