#pragma once
// Method records: the tables each group of functions or methods appends to, and the one way a
// table of operations becomes one record per operation.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

namespace tessra::py {

using MethodTable = std::vector<PyMethodDef>;

// Signature-typed helpers for method tables.
#define TESSRA_FASTCALL(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))
inline constexpr int kArgsKw = METH_FASTCALL | METH_KEYWORDS;

// One method that runs operation `op` of a core kernel family.
template <class Op>
struct OpMethod {
    const char* name;
    Op op;
    const char* doc;  // text signature, then the description
};

// Appends record(std::integral_constant<size_t, I>) for every I below N: each operation gets an
// entry point of its own, instantiated for its index.
template <size_t N, class Record>
void add_each(MethodTable& t, Record record) {
    [&]<size_t... I>(std::index_sequence<I...>) {
        (t.push_back(record(std::integral_constant<size_t, I>{})), ...);
    }(std::make_index_sequence<N>());
}

}  // namespace tessra::py
