// The seeded random fills random_uniform_f32 and random_normal_f32.
#include "ops/random.hpp"

#include "core_array_object.hpp"
#include "enums.hpp"
#include "module.hpp"

namespace tessra::py {

namespace {

RngAlgorithm load_algo(PyObject* o) { return static_cast<RngAlgorithm>(load_rng_algorithm(o)); }

template <class Fill>
PyObject* random_fill(const char* name, PyObject* const* args, Py_ssize_t n, PyObject* kw,
                      Fill fill) {
    return guard([&] {
        Args a(name, {{"shape"}, {"seed"}, {"algo", true}}, args, n, kw);
        Shape shape = a.get(0, load_sizes);
        uint64_t seed = a.get(1, load_u64);
        // None is not a default here: only an omitted algo means PCG64.
        RngAlgorithm algo = a[2] == nullptr ? RngAlgorithm::PCG64 : a.get(2, load_algo);
        return wrap(fill(std::move(shape), seed, algo));
    });
}

PyObject* f_uniform(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return random_fill("random_uniform_f32", args, n, kw, random_uniform_f32);
}

PyObject* f_normal(PyObject*, PyObject* const* args, Py_ssize_t n, PyObject* kw) {
    return random_fill("random_normal_f32", args, n, kw, random_normal_f32);
}

}  // namespace

void add_random_functions(MethodTable& t) {
    t.push_back({"random_uniform_f32", TESSRA_FASTCALL(f_uniform), kArgsKw,
                 "random_uniform_f32(shape, seed, algo=...)\n--\n\n"
                 "Array of `shape` with uniform values in [0, 1) from a seeded generator."});
    t.push_back({"random_normal_f32", TESSRA_FASTCALL(f_normal), kArgsKw,
                 "random_normal_f32(shape, seed, algo=...)\n--\n\n"
                 "Array of `shape` with standard normal values from a seeded generator."});
}

}  // namespace tessra::py
