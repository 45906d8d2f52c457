// CoreArray.sort and CoreArray.argsort.
#include "sort/array_sort.hpp"

#include "core_array_object.hpp"

namespace tessra::py {

namespace {

template <class Op>
PyObject* sort_method(const char* name, PyObject* self, PyObject* const* args, Py_ssize_t n,
                      PyObject* kw, Op op) {
    return guard([&] {
        Args a(name, {{"descending", true}}, args, n, kw);
        SharedArray me(as_array(self));
        bool descending = a[0] != nullptr && a.get(0, load_bool);
        return wrap(op(*me, descending));
    });
}

PyObject* m_sort(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return sort_method("sort", self, args, n, kw, sort_array);
}

PyObject* m_argsort(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return sort_method("argsort", self, args, n, kw, argsort_array);
}

}  // namespace

void add_sort_methods(MethodTable& t) {
    t.push_back({"sort", TESSRA_FASTCALL(m_sort), kArgsKw,
                 "sort($self, descending=False)\n--\n\n"
                 "Sort elements in ascending order, returns new sorted array."});
    t.push_back({"argsort", TESSRA_FASTCALL(m_argsort), kArgsKw,
                 "argsort($self, descending=False)\n--\n\n"
                 "Return indices that would sort the array."});
}

}  // namespace tessra::py
