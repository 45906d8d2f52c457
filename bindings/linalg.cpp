// CoreArray.cholesky.
#include "linalg/cholesky.hpp"

#include "core_array_object.hpp"

namespace tessra::py {

namespace {

PyObject* m_cholesky(PyObject* self, PyObject*) {
    return guard([&] {
        SharedArray a(as_array(self));
        return wrap(linalg::decompose(*a));
    });
}

}  // namespace

void add_linalg_methods(MethodTable& t) {
    t.push_back({"cholesky", m_cholesky, METH_NOARGS, "cholesky($self)\n--\n\nCholesky decomposition"});
}

}  // namespace tessra::py
