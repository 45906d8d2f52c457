// The GroupBy class and DataFrame.groupby.
#include "table_objects.hpp"
#include "util/panic.hpp"

namespace tessra::py {

namespace {

PyObject* m_groupby(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("groupby", {{"by"}}, args, n, kw);
        Shared<DataFrameObject> f(as_frame(self));
        std::string by = a.get(0, load_str);
        GroupBy g = unwrap(frame_groupby(*f, by));
        return new_table_object<GroupByObject>(groupby_type_object(), std::move(g));
    });
}

PyObject* m_sum(PyObject* self, PyObject*) {
    return guard([&] {
        Shared<GroupByObject> g(as_groupby(self));
        return wrap(groupby_sum(*g));
    });
}

PyObject* m_mean(PyObject* self, PyObject*) {
    return guard([&] {
        Shared<GroupByObject> g(as_groupby(self));
        return wrap(groupby_mean(*g));
    });
}

PyMethodDef kMethods[] = {
    {"sum", m_sum, METH_NOARGS, "sum($self)\n--\n\n"},
    {"mean", m_mean, METH_NOARGS, "mean($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc<GroupByObject>)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = {TESSRA_CLASS_NAME("GroupBy"), static_cast<int>(sizeof(GroupByObject)), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, kSlots};

}  // namespace

void add_groupby_methods(MethodTable& t) {
    t.push_back({"groupby", TESSRA_FASTCALL(m_groupby), kArgsKw, "groupby($self, by)\n--\n\n"});
}

PyTypeObject* groupby_type_object() {
    static PyTypeObject* type = [] {
        return make_type(kSpec, "GroupBy");
    }();
    return type;
}

}  // namespace tessra::py
