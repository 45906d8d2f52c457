// CoreArray reductions (to one Python number) and cumulative methods.
#include "core_array_object.hpp"
#include "ops/reductions.hpp"

namespace tessra::py {

namespace {

template <Result<float> (*Reduce)(const CoreArray&)>
PyObject* m_float(PyObject* self, PyObject*) {
    return guard([&] {
        SharedArray a(as_array(self));
        return check(PyFloat_FromDouble(unwrap(Reduce(*a))));
    });
}

template <Result<uint64_t> (*Reduce)(const CoreArray&)>
PyObject* m_index(PyObject* self, PyObject*) {
    return guard([&] {
        SharedArray a(as_array(self));
        return check(PyLong_FromUnsignedLongLong(unwrap(Reduce(*a))));
    });
}

template <Result<CoreArray> (*Run)(const CoreArray&)>
PyObject* m_array(PyObject* self, PyObject*) {
    return guard([&] {
        SharedArray a(as_array(self));
        return wrap(Run(*a));
    });
}

}  // namespace

void add_reduction_methods(MethodTable& t) {
    t.push_back({"sum", m_float<reduce_sum>, METH_NOARGS, "sum($self)\n--\n\nSum all elements."});
    t.push_back({"mean", m_float<reduce_mean>, METH_NOARGS, "mean($self)\n--\n\nMean of all elements."});
    t.push_back({"var", m_float<reduce_var>, METH_NOARGS, "var($self)\n--\n\nPopulation variance."});
    t.push_back({"std_dev", m_float<reduce_std_dev>, METH_NOARGS,
                 "std_dev($self)\n--\n\nPopulation standard deviation."});
    t.push_back({"prod", m_float<reduce_prod>, METH_NOARGS,
                 "prod($self)\n--\n\nProduct of all elements."});
    t.push_back({"nansum", m_float<reduce_nansum>, METH_NOARGS,
                 "nansum($self)\n--\n\nSum ignoring NaN values."});
    t.push_back({"nanmean", m_float<reduce_nanmean>, METH_NOARGS,
                 "nanmean($self)\n--\n\nMean ignoring NaN values."});
    t.push_back({"nanmax", m_float<reduce_nanmax>, METH_NOARGS,
                 "nanmax($self)\n--\n\nMax ignoring NaN values."});
    t.push_back({"nanmin", m_float<reduce_nanmin>, METH_NOARGS,
                 "nanmin($self)\n--\n\nMin ignoring NaN values."});
    t.push_back({"argmax", m_index<reduce_argmax>, METH_NOARGS,
                 "argmax($self)\n--\n\nReturn index of maximum element."});
    t.push_back({"argmin", m_index<reduce_argmin>, METH_NOARGS,
                 "argmin($self)\n--\n\nReturn index of minimum element."});
    t.push_back({"cumsum", m_array<cumsum>, METH_NOARGS,
                 "cumsum($self)\n--\n\nCumulative sum, returns new array."});
    t.push_back({"cumprod", m_array<cumprod>, METH_NOARGS,
                 "cumprod($self)\n--\n\nCumulative product, returns new array."});
}

}  // namespace tessra::py
