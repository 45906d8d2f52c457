// CoreArray.sort and argsort: the stable sorts of stable_sort.hpp on the flat values.
#include "sort/array_sort.hpp"

#include <algorithm>
#include <utility>

#include "scheduler/pool.hpp"
#include "sort/stable_sort.hpp"

namespace tessra {

namespace {

// Reverses v, on the pool when it is large.
void reverse(float* v, size_t n) {
    const size_t half = n / 2;
    if (n <= kSerialSortMax) {
        std::reverse(v, v + n);
        return;
    }
    pool::parallel_for(half, pool::kCopyChunk, [&](size_t lo, size_t hi) {
        for (size_t i = lo; i < hi; ++i) std::swap(v[i], v[n - 1 - i]);
    });
}

// The receiver's flat values handed to order(values, out, n), into a Float32 array of its shape.
template <class Order>
Result<CoreArray> ordered(const CoreArray& a, const char* type_message, Order order) {
    if (!a.is_f32()) return type_error(type_message);
    const size_t n = a.element_count();
    CoreArray r = uninit(a.shape);
    if (n > 0) order(a.f32(), r.f32(), n);
    return r;
}

}  // namespace

Result<CoreArray> sort_array(const CoreArray& a, bool descending) {
    auto order = [&](const float* v, float* out, size_t n) {
        sort_f32(v, out, n);
        if (descending) reverse(out, n);
    };
    return ordered(a, "sort() currently only supports Float32", order);
}

Result<CoreArray> argsort_array(const CoreArray& a, bool descending) {
    auto order = [&](const float* v, float* out, size_t n) {
        argsort_f32(v, out, n);
        if (descending) std::reverse(out, out + n);
    };
    return ordered(a, "argsort() currently only supports Float32", order);
}

}  // namespace tessra
