// The DataFrame class and the read_csv module function.
#include "module.hpp"
#include "table_objects.hpp"
#include "util/panic.hpp"

namespace tessra::py {

namespace {

using SharedFrame = Shared<DataFrameObject>;
using ExclusiveFrame = Exclusive<DataFrameObject>;

PyObject* frame_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard([&] {
        Args a("DataFrame", {}, args, kwargs);
        return new_table_object<DataFrameObject>(type, DataFrame{});
    });
}

PyObject* frame_repr_slot(PyObject* self) {
    return guard([&] {
        SharedFrame f(as_frame(self));
        return new_str(frame_repr(*f));
    });
}

// ---- properties ---------------------------------------------------------------------------

PyObject* get_columns(PyObject* self, void*) {
    return guard([&] {
        SharedFrame f(as_frame(self));
        Ref dict = Ref::steal(PyDict_New());
        for (const auto& [key, series] : f->columns)
            dict_set(dict.get(), Ref::steal(new_str(key)), Ref::steal(wrap(clone_series(series))));
        return dict.release();
    });
}

int set_columns(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) return refuse_delete();
    return guard_int([&] {
        auto items = load_property("columns", value,
                                   [](PyObject* o) { return load_str_dict(o, load_series_copy); });
        ColumnMap columns;
        columns.reserve(items.size());
        for (auto& [key, series] : items) columns.insert_or_assign(std::move(key), std::move(series));
        ExclusiveFrame f(as_frame(self));
        f->columns = std::move(columns);
        return 0;
    });
}

PyObject* get_row_count(PyObject* self, void*) {
    return guard([&] {
        SharedFrame f(as_frame(self));
        return PyLong_FromUnsignedLongLong(f->row_count);
    });
}

int set_row_count(PyObject* self, PyObject* value, void*) {
    if (value == nullptr) return refuse_delete();
    return guard_int([&] {
        uint64_t rows = load_property("row_count", value, load_u64);
        ExclusiveFrame f(as_frame(self));
        f->row_count = rows;
        return 0;
    });
}

PyGetSetDef kProperties[] = {
    {"columns", get_columns, set_columns, nullptr, nullptr},
    {"row_count", get_row_count, set_row_count, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- methods ------------------------------------------------------------------------------

PyObject* m_insert(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("insert", {{"name"}, {"series"}}, args, n, kw);
        ExclusiveFrame f(as_frame(self));
        std::string name = a.get(0, load_str);
        Series series = a.get(1, load_series_copy);
        unwrap(frame_insert(*f, std::move(name), std::move(series)));
        Py_RETURN_NONE;
    });
}

PyObject* m_get_column(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("get_column", {{"name"}}, args, n, kw);
        SharedFrame f(as_frame(self));
        std::string name = a.get(0, load_str);
        return wrap(clone_series(*unwrap(frame_column(*f, name))));
    });
}

PyObject* m_drop(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("drop", {{"columns"}}, args, n, kw);
        ExclusiveFrame f(as_frame(self));
        frame_drop(*f, a.get(0, load_strs));
        Py_RETURN_NONE;
    });
}

PyObject* m_rename(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("rename", {{"columns"}}, args, n, kw);
        ExclusiveFrame f(as_frame(self));
        auto mapping = a.get(0, [](PyObject* o) { return load_str_dict(o, load_str); });
        unwrap(frame_rename(*f, mapping));
        Py_RETURN_NONE;
    });
}

PyObject* m_iloc(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("iloc", {{"start"}, {"end"}}, args, n, kw);
        SharedFrame f(as_frame(self));
        std::optional<uint64_t> start = a.get_optional(0, load_u64);
        std::optional<uint64_t> end = a.get_optional(1, load_u64);
        return wrap(frame_iloc(*f, start, end));
    });
}

PyObject* m_filter_eq(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("filter_eq", {{"col_name"}, {"value"}}, args, n, kw);
        SharedFrame f(as_frame(self));
        std::string col = a.get(0, load_str);
        float value = a.get(1, load_f32);
        return wrap(frame_filter_eq(*f, col, value));
    });
}

PyObject* m_sort_values(PyObject* self, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("sort_values", {{"col_name"}, {"ascending"}}, args, n, kw);
        SharedFrame f(as_frame(self));
        std::string col = a.get(0, load_str);
        bool ascending = a.get(1, load_bool);
        return wrap(frame_sort_values(*f, col, ascending));
    });
}

// ---- read_csv -----------------------------------------------------------------------------

PyObject* f_read_csv(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("read_csv", {{"path"}}, args, n, kw);
        return wrap(read_csv_frame(a.get(0, load_str)));
    });
}

}  // namespace

void add_dataframe_methods(MethodTable& t) {
    t.push_back({"insert", TESSRA_FASTCALL(m_insert), kArgsKw, "insert($self, name, series)\n--\n\n"});
    t.push_back({"get_column", TESSRA_FASTCALL(m_get_column), kArgsKw, "get_column($self, name)\n--\n\n"});
    t.push_back({"drop", TESSRA_FASTCALL(m_drop), kArgsKw, "drop($self, columns)\n--\n\n"});
    t.push_back({"rename", TESSRA_FASTCALL(m_rename), kArgsKw, "rename($self, columns)\n--\n\n"});
    t.push_back({"iloc", TESSRA_FASTCALL(m_iloc), kArgsKw, "iloc($self, start, end)\n--\n\n"});
    t.push_back({"filter_eq", TESSRA_FASTCALL(m_filter_eq), kArgsKw,
                 "filter_eq($self, col_name, value)\n--\n\n"});
    t.push_back({"sort_values", TESSRA_FASTCALL(m_sort_values), kArgsKw,
                 "sort_values($self, col_name, ascending)\n--\n\n"});
}

void add_table_functions(MethodTable& t) {
    t.push_back({"read_csv", TESSRA_FASTCALL(f_read_csv), kArgsKw, "read_csv(path)\n--\n\n"});
}

PyTypeObject* dataframe_type_object() {
    static PyTypeObject* type = [] {
        static MethodTable methods;
        add_dataframe_methods(methods);
        add_groupby_methods(methods);
        add_join_pivot_methods(methods);
        methods.push_back({nullptr, nullptr, 0, nullptr});
        static PyType_Slot slots[] = {
            {Py_tp_doc, const_cast<char*>("DataFrame()\n--\n\n")},
            {Py_tp_new, reinterpret_cast<void*>(frame_new)},
            {Py_tp_repr, reinterpret_cast<void*>(frame_repr_slot)},
            {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc<DataFrameObject>)},
            {Py_tp_getset, kProperties},
            {Py_tp_methods, methods.data()},
            {0, nullptr},
        };
        static PyType_Spec spec = {TESSRA_CLASS_NAME("DataFrame"),
                                   static_cast<int>(sizeof(DataFrameObject)), 0, Py_TPFLAGS_DEFAULT,
                                   slots};
        return make_type(spec, "DataFrame");
    }();
    return type;
}

}  // namespace tessra::py
