#include "errors.hpp"

#include <string>

namespace tessra::py {

void set_error(const Error& e) {
    PyObject* type = PyExc_RuntimeError;
    switch (e.kind) {
        case ErrorKind::Type: type = PyExc_TypeError; break;
        case ErrorKind::Value: type = PyExc_ValueError; break;
        case ErrorKind::Index: type = PyExc_IndexError; break;
        case ErrorKind::Key: type = PyExc_KeyError; break;
        case ErrorKind::Runtime: type = PyExc_RuntimeError; break;
        case ErrorKind::IO: type = PyExc_OSError; break;
        case ErrorKind::Overflow: type = PyExc_OverflowError; break;
    }
    PyErr_SetString(type, e.message.c_str());
}

PyObject* panic_exception_type() {
    static PyObject* type = PyErr_NewExceptionWithDoc(
        "pyo3_runtime.PanicException",
        "The exception raised when an internal invariant of the native code fails.",
        PyExc_BaseException, nullptr);
    return type;
}

PyTypeObject* make_type(PyType_Spec& spec, const char* name) {
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr) {
        PyErr_Clear();
        panic(std::string("failed to create the class object of ") + name);
    }
    return reinterpret_cast<PyTypeObject*>(type);
}

void raise_panic(const char* message) {
    PyObject* type = panic_exception_type();
    if (type == nullptr) return;  // the error from making the class is already set
    PyErr_SetString(type, message);
}

}  // namespace tessra::py
