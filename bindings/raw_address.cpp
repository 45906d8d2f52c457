// The raw-address module functions (array_*) and sum_as_string.
#include "raw/raw_address.hpp"

#include <vector>

#include "module.hpp"
#include "raw_calls.hpp"

namespace tessra::py {

namespace {

constexpr std::array<Param, 4> kBinary = {{{"a_ptr"}, {"b_ptr"}, {"out_ptr"}, {"count"}}};
constexpr std::array<Param, 2> kUnary = {{{"data_ptr"}, {"count"}}};
constexpr std::array<Param, 3> kDot = {{{"a_ptr"}, {"b_ptr"}, {"count"}}};
constexpr std::array<Param, 6> kMatmul = {{{"a_ptr"}, {"b_ptr"}, {"out_ptr"}, {"m"}, {"k"}, {"n"}}};
constexpr std::array<Param, 2> kPair = {{{"a"}, {"b"}}};

std::vector<int64_t> load_i64s(PyObject* o) { return load_vector<int64_t>(o, load_i64); }

template <auto Fn>
PyObject* strided(const char* fname, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return guard([&] {
        Args a(fname, {{"data_ptr"}, {"shape"}, {"strides"}}, args, n, kw);
        const uint64_t data = a.get(0, load_u64);
        const std::vector<int64_t> shape = a.get(1, load_i64s);
        const std::vector<int64_t> strides = a.get(2, load_i64s);
        return to_py(Fn(data, shape, strides));
    });
}

#define TESSRA_ENTRY(name, expr)                                                               \
    PyObject* name(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) { return expr; }

TESSRA_ENTRY(f_add, (u64_entry<raw::add_f32>("array_add_f32", kBinary, args, n, kw)))
TESSRA_ENTRY(f_sub, (u64_entry<raw::sub_f32>("array_sub_f32", kBinary, args, n, kw)))
TESSRA_ENTRY(f_mul, (u64_entry<raw::mul_f32>("array_mul_f32", kBinary, args, n, kw)))
TESSRA_ENTRY(f_div, (u64_entry<raw::div_f32>("array_div_f32", kBinary, args, n, kw)))
TESSRA_ENTRY(f_sum, (u64_entry<raw::sum_f32>("array_sum_f32", kUnary, args, n, kw)))
TESSRA_ENTRY(f_mean, (u64_entry<raw::mean_f32>("array_mean_f32", kUnary, args, n, kw)))
TESSRA_ENTRY(f_sum_i32, (u64_entry<raw::sum_i32>("array_sum_i32", kUnary, args, n, kw)))
TESSRA_ENTRY(f_any, (u64_entry<raw::any>("array_any", kUnary, args, n, kw)))
TESSRA_ENTRY(f_all, (u64_entry<raw::all>("array_all", kUnary, args, n, kw)))
TESSRA_ENTRY(f_dot, (u64_entry<raw::dot_product_f32>("array_dot_product_f32", kDot, args, n, kw)))
TESSRA_ENTRY(f_matmul, (u64_entry<raw::dot_product_f32>("array_matmul_f32", kDot, args, n, kw)))
TESSRA_ENTRY(f_matmul_2d, (u64_entry<raw::matmul_2d_f32>("array_matmul_2d_f32", kMatmul, args, n, kw)))
TESSRA_ENTRY(f_sum_as_string, (u64_entry<raw::sum_as_string>("sum_as_string", kPair, args, n, kw)))
TESSRA_ENTRY(f_sum_strided, (strided<raw::sum_f32_strided>("array_sum_f32_strided", args, n, kw)))
TESSRA_ENTRY(f_mean_strided, (strided<raw::mean_f32_strided>("array_mean_f32_strided", args, n, kw)))
TESSRA_ENTRY(f_max_strided, (strided<raw::max_f32_strided>("array_max_f32_strided", args, n, kw)))
TESSRA_ENTRY(f_min_strided, (strided<raw::min_f32_strided>("array_min_f32_strided", args, n, kw)))

#undef TESSRA_ENTRY

}  // namespace

void add_raw_address_functions(MethodTable& t) {
    const auto add = [&](const char* name, auto fn, const char* doc) {
        t.push_back({name, TESSRA_FASTCALL(fn), kArgsKw, doc});
    };
    add("array_add_f32", f_add,
        "array_add_f32(a_ptr, b_ptr, out_ptr, count)\n--\n\n"
        "out[i] = a[i] + b[i] for `count` float32 values at the given addresses.");
    add("array_sub_f32", f_sub,
        "array_sub_f32(a_ptr, b_ptr, out_ptr, count)\n--\n\n"
        "out[i] = a[i] - b[i] for `count` float32 values; out may be a or b.");
    add("array_mul_f32", f_mul,
        "array_mul_f32(a_ptr, b_ptr, out_ptr, count)\n--\n\n"
        "out[i] = a[i] * b[i] for `count` float32 values; out may be a or b.");
    add("array_div_f32", f_div,
        "array_div_f32(a_ptr, b_ptr, out_ptr, count)\n--\n\n"
        "out[i] = a[i] / b[i] for `count` float32 values; out may be a or b.");
    add("array_sum_f32", f_sum,
        "array_sum_f32(data_ptr, count)\n--\n\nSum of `count` float32 values (0.0 when empty).");
    add("array_mean_f32", f_mean,
        "array_mean_f32(data_ptr, count)\n--\n\nMean of `count` float32 values.");
    add("array_sum_i32", f_sum_i32,
        "array_sum_i32(data_ptr, count)\n--\n\n"
        "Sum of `count` int32 values, wrapping modulo 2**32.");
    add("array_any", f_any,
        "array_any(data_ptr, count)\n--\n\nWhether any of `count` bytes is not 0.");
    add("array_all", f_all,
        "array_all(data_ptr, count)\n--\n\nWhether none of `count` bytes is 0.");
    add("array_dot_product_f32", f_dot,
        "array_dot_product_f32(a_ptr, b_ptr, count)\n--\n\n"
        "Dot product of two float32 vectors, summed in index order.");
    add("array_matmul_f32", f_matmul,
        "array_matmul_f32(a_ptr, b_ptr, count)\n--\n\n"
        "Dot product of two float32 vectors (the same as array_dot_product_f32).");
    add("array_matmul_2d_f32", f_matmul_2d,
        "array_matmul_2d_f32(a_ptr, b_ptr, out_ptr, m, k, n)\n--\n\n"
        "out (m x n) = a (m x k) @ b (k x n), row-major float32.");
    add("array_sum_f32_strided", f_sum_strided,
        "array_sum_f32_strided(data_ptr, shape, strides)\n--\n\n"
        "Sum of a float32 view given by extents and byte strides.");
    add("array_mean_f32_strided", f_mean_strided,
        "array_mean_f32_strided(data_ptr, shape, strides)\n--\n\n"
        "Mean of a float32 view given by extents and byte strides.");
    add("array_max_f32_strided", f_max_strided,
        "array_max_f32_strided(data_ptr, shape, strides)\n--\n\n"
        "Maximum of a float32 view given by extents and byte strides.");
    add("array_min_f32_strided", f_min_strided,
        "array_min_f32_strided(data_ptr, shape, strides)\n--\n\n"
        "Minimum of a float32 view given by extents and byte strides.");
    add("sum_as_string", f_sum_as_string,
        "sum_as_string(a, b)\n--\n\nThe sum of two unsigned 64-bit integers as decimal text.");
}

}  // namespace tessra::py
