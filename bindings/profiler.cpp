// The profiling switches and the JSON report.
#include "profiler/profiler.hpp"

#include "args.hpp"
#include "module.hpp"

namespace tessra::py {

namespace {

template <class F>
PyObject* switch_call(F f) {
    return guard([&] {
        f();
        Py_RETURN_NONE;
    });
}

PyObject* f_enable(PyObject*, PyObject*) { return switch_call(enable_profiling); }
PyObject* f_disable(PyObject*, PyObject*) { return switch_call(disable_profiling); }
PyObject* f_clear(PyObject*, PyObject*) { return switch_call(clear_profile); }

PyObject* f_set_context(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("set_profile_context", {{"context", true}}, args, n, kw);
        set_profile_context(a.get_optional(0, load_str));
        Py_RETURN_NONE;
    });
}

PyObject* f_report(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("get_profile_report", {{"context", true}}, args, n, kw);
        std::string text = unwrap(profile_report(a.get_optional(0, load_str)));
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

}  // namespace

void add_profiler_functions(MethodTable& t) {
    t.push_back({"enable_profiling", f_enable, METH_NOARGS,
                 "enable_profiling()\n--\n\nStart recording the timed operations."});
    t.push_back({"disable_profiling", f_disable, METH_NOARGS,
                 "disable_profiling()\n--\n\nStop recording; the stored records stay."});
    t.push_back({"clear_profile", f_clear, METH_NOARGS,
                 "clear_profile()\n--\n\nDrop every stored record."});
    t.push_back({"get_profile_report", TESSRA_FASTCALL(f_report), kArgsKw,
                 "get_profile_report(context=None)\n--\n\n"
                 "Per-operation summary of the stored records as JSON text, optionally only "
                 "those made under `context`."});
    t.push_back({"set_profile_context", TESSRA_FASTCALL(f_set_context), kArgsKw,
                 "set_profile_context(context=None)\n--\n\n"
                 "Label the calling thread's later timed operations with `context` (None clears "
                 "it)."});
}

}  // namespace tessra::py
