// CoreArray.matmul.
#include "core_array_object.hpp"
#include "matmul/array_matmul.hpp"

namespace tessra::py {

namespace {

PyObject* m_matmul(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("matmul", {{"other"}}, args, n, kw);
        SharedArray me(as_array(self));
        SharedArray other(a.get(0, load_core_array));
        return wrap(tessra::matmul(*me, *other));
    });
}

}  // namespace

void add_matmul_methods(MethodTable& t) {
    t.push_back({"matmul", TESSRA_FASTCALL(m_matmul), kArgsKw,
                 "matmul($self, other)\n--\n\nMatrix multiplication"});
}

}  // namespace tessra::py
