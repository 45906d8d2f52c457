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
        case ErrorKind::NotImplemented: type = PyExc_NotImplementedError; break;
    }
    // Messages quote names that may hold NUL bytes, so the text is taken by its length; a name
    // that is not UTF-8 (from a file) must not turn the error into a decoding error.
    PyObject* text = PyUnicode_DecodeUTF8(e.message.data(), static_cast<Py_ssize_t>(e.message.size()),
                                          "replace");
    if (text == nullptr) return;
    PyErr_SetObject(type, text);
    Py_DECREF(text);
}

PyObject* panic_exception_type() {
    // The class's module and name are what callers catch it by.
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
