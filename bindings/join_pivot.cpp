// DataFrame.join and DataFrame.pivot.
#include "dataframe/join.hpp"
#include "dataframe/pivot.hpp"
#include "table_objects.hpp"

namespace tessra::py {

namespace {

PyObject* m_join(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("join", {{"other"}, {"left_on"}, {"right_on"}, {"how"}}, args, n, kw);
        Shared<DataFrameObject> left(as_frame(self));
        Shared<DataFrameObject> right = a.get(0, [](PyObject* o) {
            if (!PyObject_TypeCheck(o, dataframe_type_object())) raise_cannot_convert(o, "DataFrame");
            return Shared<DataFrameObject>(as_frame(o));
        });
        std::string left_on = a.get(1, load_str);
        std::string right_on = a.get(2, load_str);
        std::string how = a.get(3, load_str);
        return wrap(frame_join(*left, *right, left_on, right_on, how));
    });
}

PyObject* m_pivot(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("pivot", {{"index"}, {"columns"}, {"values"}}, args, n, kw);
        Shared<DataFrameObject> f(as_frame(self));
        std::string index = a.get(0, load_str);
        std::string columns = a.get(1, load_str);
        std::string values = a.get(2, load_str);
        return wrap(frame_pivot(*f, index, columns, values));
    });
}

}  // namespace

void add_join_pivot_methods(MethodTable& t) {
    t.push_back({"join", TESSRA_FASTCALL(m_join), kArgsKw, "join($self, other, left_on, right_on, how)\n--\n\n"});
    t.push_back({"pivot", TESSRA_FASTCALL(m_pivot), kArgsKw, "pivot($self, index, columns, values)\n--\n\n"});
}

}  // namespace tessra::py
