#include "enums.hpp"

#include <string>

#include "args.hpp"
#include "util/panic.hpp"

namespace tessra::py {

namespace {

struct EnumObject {
    PyObject_HEAD
    uint8_t value;
};

uint8_t value_of(PyObject* o) { return reinterpret_cast<EnumObject*>(o)->value; }

// What differs between the two enumeration classes.
struct EnumInfo {
    const char* name;           // class name
    const char* const* names;   // display name per value
    int count;
    PyType_Spec* spec;
};

constexpr const char* kRngNames[] = {"PCG64", "Xoshiro256PP"};

EnumInfo& dtype_info();
EnumInfo& rng_info();

EnumInfo& info_of(PyObject* self) {
    return PyObject_TypeCheck(self, dtype_type_object()) ? dtype_info() : rng_info();
}

PyObject* enum_repr(PyObject* self) {
    const EnumInfo& info = info_of(self);
    return PyUnicode_FromFormat("%s.%s", info.name, info.names[value_of(self)]);
}

PyObject* enum_int(PyObject* self) { return PyLong_FromLong(value_of(self)); }

PyObject* enum_richcompare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    long long theirs;
    if (PyObject_TypeCheck(other, Py_TYPE(self))) {
        theirs = value_of(other);
    } else if (PyIndex_Check(other)) {
        theirs = PyLong_AsLongLong(other);
        if (theirs == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            Py_RETURN_NOTIMPLEMENTED;
        }
    } else {
        Py_RETURN_NOTIMPLEMENTED;
    }
    bool equal = theirs == value_of(self);
    return PyBool_FromLong(op == Py_EQ ? equal : !equal);
}

PyObject* dtype_itemsize(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(dtype_size(static_cast<DType>(value_of(self))));
}

PyGetSetDef kDTypeProperties[] = {
    {"itemsize", dtype_itemsize, nullptr, "Size of a single element in bytes.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

void enum_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyType_Slot kDTypeSlots[] = {
    {Py_tp_doc, const_cast<char*>("Supported array element data types.\n"
                                  "Mirrors Python's DataType enum for seamless FFI.")},
    {Py_tp_repr, reinterpret_cast<void*>(enum_repr)},
    {Py_nb_int, reinterpret_cast<void*>(enum_int)},
    {Py_tp_richcompare, reinterpret_cast<void*>(enum_richcompare)},
    {Py_tp_getset, kDTypeProperties},
    {Py_tp_dealloc, reinterpret_cast<void*>(enum_dealloc)},
    {0, nullptr},
};
PyType_Slot kRngSlots[] = {
    {Py_tp_doc, const_cast<char*>("Generator algorithm choices")},
    {Py_tp_repr, reinterpret_cast<void*>(enum_repr)},
    {Py_nb_int, reinterpret_cast<void*>(enum_int)},
    {Py_tp_richcompare, reinterpret_cast<void*>(enum_richcompare)},
    {Py_tp_dealloc, reinterpret_cast<void*>(enum_dealloc)},
    {0, nullptr},
};

constexpr unsigned kEnumFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION;
PyType_Spec kDTypeSpec = {TESSRA_CLASS_NAME("DType"), sizeof(EnumObject), 0, kEnumFlags, kDTypeSlots};
PyType_Spec kRngSpec = {TESSRA_CLASS_NAME("RngAlgorithm"), sizeof(EnumObject), 0, kEnumFlags,
                        kRngSlots};

EnumInfo& dtype_info() {
    static EnumInfo info{"DType", kDTypeNames, kDTypeCount, &kDTypeSpec};
    return info;
}
EnumInfo& rng_info() {
    static EnumInfo info{"RngAlgorithm", kRngNames, 2, &kRngSpec};
    return info;
}

// Builds the class and its shared instances, set as class attributes.
PyTypeObject* build(const EnumInfo& info, PyObject** instances) {
    PyTypeObject* tp = make_type(*info.spec, info.name);
    auto* type = reinterpret_cast<PyObject*>(tp);
    for (int v = 0; v < info.count; ++v) {
        PyObject* obj = tp->tp_alloc(tp, 0);
        if (obj == nullptr || PyObject_SetAttrString(type, info.names[v], obj) < 0) {
            PyErr_Clear();
            panic(std::string("failed to create the shared instances of ") + info.name);
        }
        reinterpret_cast<EnumObject*>(obj)->value = static_cast<uint8_t>(v);
        instances[v] = obj;  // kept for the life of the process
    }
    return tp;
}

PyObject* g_dtypes[kDTypeCount];
PyObject* g_rngs[2];

}  // namespace

PyTypeObject* dtype_type_object() {
    static PyTypeObject* t = build(dtype_info(), g_dtypes);
    return t;
}

PyTypeObject* rng_algorithm_type_object() {
    static PyTypeObject* t = build(rng_info(), g_rngs);
    return t;
}

PyObject* dtype_object(DType t) {
    dtype_type_object();
    PyObject* o = g_dtypes[static_cast<uint8_t>(t)];
    Py_INCREF(o);
    return o;
}

PyObject* rng_algorithm_object(uint8_t value) {
    rng_algorithm_type_object();
    PyObject* o = g_rngs[value];
    Py_INCREF(o);
    return o;
}

DType load_dtype(PyObject* o) {
    if (!PyObject_TypeCheck(o, dtype_type_object())) raise_cannot_convert(o, "DType");
    return static_cast<DType>(value_of(o));
}

uint8_t load_rng_algorithm(PyObject* o) {
    if (!PyObject_TypeCheck(o, rng_algorithm_type_object())) raise_cannot_convert(o, "RngAlgorithm");
    return value_of(o);
}

}  // namespace tessra::py
