// The Metal and CUDA module functions.
#include "raw/metal_calls.hpp"

#include <vector>

#include "module.hpp"
#include "raw_calls.hpp"

namespace tessra::py {

namespace {

constexpr std::array<Param, 4> kBinary = {{{"a_ptr"}, {"b_ptr"}, {"result_ptr"}, {"count"}}};
constexpr std::array<Param, 2> kUnary = {{{"data_ptr"}, {"count"}}};
constexpr std::array<Param, 6> kMatmul = {{{"a_ptr"}, {"b_ptr"}, {"c_ptr"}, {"m"}, {"k"}, {"n"}}};
constexpr std::array<Param, 4> kTranspose = {{{"in_ptr"}, {"out_ptr"}, {"m"}, {"n"}}};
constexpr std::array<Param, 4> kCuda = {{{"a_ptr"}, {"b_ptr"}, {"out_ptr"}, {"count"}}};

template <const char* Kernel>
Status binary(uint64_t a, uint64_t b, uint64_t result, uint64_t count) {
    return raw::metal_binary(Kernel, a, b, result, count);
}
constexpr char kAdd[] = "add_f32", kSub[] = "sub_f32", kMul[] = "mul_f32", kDiv[] = "div_f32";

Status cuda_add(uint64_t, uint64_t, uint64_t, uint64_t) {
    return runtime_error("CUDA is not enabled in this build");
}

int32_t load_i32(PyObject* o) {
    const Error out_of_range = overflow_error("out of range integral type conversion attempted");
    int64_t v;
    try {
        v = load_i64(o);
    } catch (const PyErrSet&) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw;
        PyErr_Clear();  // beyond 64 bits is out of the 32-bit range too
        throw out_of_range;
    }
    if (v < INT32_MIN || v > INT32_MAX) throw out_of_range;
    return static_cast<int32_t>(v);
}
std::vector<int32_t> load_i32s(PyObject* o) { return load_vector<int32_t>(o, load_i32); }

PyObject* f_broadcast(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a("metal_broadcast_op",
               {{"op"}, {"a_ptr"}, {"b_ptr"}, {"out_ptr"}, {"shape"}, {"strides_a"}, {"strides_b"},
                {"size"}, {"size_a"}, {"size_b"}},
               args, n, kw);
        a.get(0, load_i32);
        const uint64_t pa = a.get(1, load_u64), pb = a.get(2, load_u64), po = a.get(3, load_u64);
        const size_t rank = a.get(4, load_i32s).size();
        const size_t rank_a = a.get(5, load_i32s).size();
        const size_t rank_b = a.get(6, load_i32s).size();
        for (size_t i = 7; i < 10; ++i) a.get(i, load_u64);
        return to_py(raw::metal_broadcast_op(pa, pb, po, rank, rank_a, rank_b));
    });
}

PyObject* f_metal_is_available(PyObject*, PyObject*) {
    return guard([] { return PyBool_FromLong(raw::metal_is_available()); });
}
PyObject* f_cuda_is_available(PyObject*, PyObject*) { Py_RETURN_FALSE; }

#define TESSRA_ENTRY(name, expr)                                                               \
    PyObject* name(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) { return expr; }

TESSRA_ENTRY(f_add, (u64_entry<binary<kAdd>>("metal_add_f32", kBinary, args, n, kw)))
TESSRA_ENTRY(f_sub, (u64_entry<binary<kSub>>("metal_sub_f32", kBinary, args, n, kw)))
TESSRA_ENTRY(f_mul, (u64_entry<binary<kMul>>("metal_mul_f32", kBinary, args, n, kw)))
TESSRA_ENTRY(f_div, (u64_entry<binary<kDiv>>("metal_div_f32", kBinary, args, n, kw)))
TESSRA_ENTRY(f_sum, (u64_entry<raw::metal_sum_f32>("metal_sum_f32", kUnary, args, n, kw)))
TESSRA_ENTRY(f_mean, (u64_entry<raw::metal_mean_f32>("metal_mean_f32", kUnary, args, n, kw)))
TESSRA_ENTRY(f_max, (u64_entry<raw::metal_max_f32>("metal_max_f32", kUnary, args, n, kw)))
TESSRA_ENTRY(f_min, (u64_entry<raw::metal_min_f32>("metal_min_f32", kUnary, args, n, kw)))
TESSRA_ENTRY(f_matmul, (u64_entry<raw::metal_matmul_f32>("metal_matmul_f32", kMatmul, args, n, kw)))
TESSRA_ENTRY(f_transpose,
             (u64_entry<raw::metal_transpose_f32>("metal_transpose_f32", kTranspose, args, n, kw)))
TESSRA_ENTRY(f_cuda_add, (u64_entry<cuda_add>("cuda_add_f32", kCuda, args, n, kw)))

#undef TESSRA_ENTRY

}  // namespace

void add_metal_functions(MethodTable& t) {
    const auto add = [&](const char* name, auto fn, const char* doc) {
        t.push_back({name, TESSRA_FASTCALL(fn), kArgsKw, doc});
    };
    t.push_back({"metal_is_available", f_metal_is_available, METH_NOARGS,
                 "metal_is_available()\n--\n\nWhether this process has a Metal device."});
    add("metal_add_f32", f_add,
        "metal_add_f32(a_ptr, b_ptr, result_ptr, count)\n--\n\n"
        "result[i] = a[i] + b[i] for `count` float32 values, on the Metal device.");
    add("metal_sub_f32", f_sub,
        "metal_sub_f32(a_ptr, b_ptr, result_ptr, count)\n--\n\n"
        "result[i] = a[i] - b[i] for `count` float32 values, on the Metal device.");
    add("metal_mul_f32", f_mul,
        "metal_mul_f32(a_ptr, b_ptr, result_ptr, count)\n--\n\n"
        "result[i] = a[i] * b[i] for `count` float32 values, on the Metal device.");
    add("metal_div_f32", f_div,
        "metal_div_f32(a_ptr, b_ptr, result_ptr, count)\n--\n\n"
        "result[i] = a[i] / b[i] for `count` float32 values, on the Metal device.");
    add("metal_sum_f32", f_sum,
        "metal_sum_f32(data_ptr, count)\n--\n\nSum of `count` float32 values on the Metal device.");
    add("metal_mean_f32", f_mean,
        "metal_mean_f32(data_ptr, count)\n--\n\nMean of `count` float32 values on the Metal device.");
    add("metal_max_f32", f_max,
        "metal_max_f32(data_ptr, count)\n--\n\n"
        "Maximum of `count` float32 values on the Metal device.");
    add("metal_min_f32", f_min,
        "metal_min_f32(data_ptr, count)\n--\n\n"
        "Minimum of `count` float32 values on the Metal device.");
    add("metal_matmul_f32", f_matmul,
        "metal_matmul_f32(a_ptr, b_ptr, c_ptr, m, k, n)\n--\n\n"
        "c (m x n) = a (m x k) @ b (k x n), row-major float32, on the Metal device.");
    add("metal_transpose_f32", f_transpose,
        "metal_transpose_f32(in_ptr, out_ptr, m, n)\n--\n\n"
        "out (n x m) = the transpose of in (m x n), row-major float32 (runs on the CPU).");
    add("metal_broadcast_op", f_broadcast,
        "metal_broadcast_op(op, a_ptr, b_ptr, out_ptr, shape, strides_a, strides_b, size, "
        "size_a, size_b)\n--\n\n"
        "Checks its arguments; the broadcast operation itself is not implemented.");
    t.push_back({"cuda_is_available", f_cuda_is_available, METH_NOARGS,
                 "cuda_is_available()\n--\n\nAlways False: this build has no CUDA."});
    add("cuda_add_f32", f_cuda_add,
        "cuda_add_f32(a_ptr, b_ptr, out_ptr, count)\n--\n\n"
        "Always raises RuntimeError: this build has no CUDA.");
}

}  // namespace tessra::py
