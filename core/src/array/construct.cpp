#include "array/construct.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "util/float_text.hpp"
#include "util/shape_text.hpp"

namespace tessra {

Result<CoreArray> full(Shape shape, float value) {
    Result<CoreArray> a = allocate(std::move(shape));
    if (a) std::fill_n(a.value().f32(), a.value().element_count(), value);
    return a;
}

Result<CoreArray> arange(double start, double stop, std::optional<double> step_arg) {
    const float lo = static_cast<float>(start);
    const float hi = static_cast<float>(stop);
    const float step = step_arg ? static_cast<float>(*step_arg) : 1.0f;
    if (step == 0.0f) return value_error("arange step cannot be zero");

    std::vector<float> values;
    const bool up = step > 0.0f;
    for (float v = lo; up ? v < hi : v > hi;) {
        values.push_back(v);
        const float next = v + step;
        // Past this point the running value no longer moves and `stop` is never reached.
        if (next == v)
            return value_error("arange step " + float_text(step) + " is too small to advance from " +
                               float_text(v) + " towards " + float_text(hi));
        v = next;
    }
    Shape shape{values.size()};
    return from_vec(std::move(shape), std::move(values));
}

CoreArray linspace(double start, double stop, uint64_t num) {
    const float lo = static_cast<float>(start);
    const float hi = static_cast<float>(stop);
    CoreArray a = uninit(Shape{num});
    float* out = a.f32();
    if (num == 1) {
        out[0] = lo;
    } else if (num > 1) {
        const float step = (hi - lo) / static_cast<float>(num - 1);
        for (uint64_t i = 0; i < num; ++i) {
            const float scaled = step * static_cast<float>(i);
            out[i] = scaled + lo;
        }
    }
    return a;
}

Result<CoreArray> concatenate(const std::vector<const CoreArray*>& arrays) {
    if (arrays.empty()) return value_error("need at least one array to concatenate");
    for (const CoreArray* a : arrays)
        if (!a->is_f32()) return type_error("concatenate() currently only supports Float32");

    const CoreArray& first = *arrays.front();
    if (first.ndim() == 0) return value_error("zero-dimensional arrays cannot be concatenated");

    Shape shape;
    bool overflows = false;
    if (first.ndim() == 1) {
        uint64_t total = 0;
        for (const CoreArray* a : arrays)
            overflows |= __builtin_add_overflow(total, a->element_count(), &total);
        shape = {total};
    } else {
        uint64_t rows = 0;
        for (const CoreArray* a : arrays) {
            if (a->ndim() != first.ndim() ||
                !std::equal(a->shape.begin() + 1, a->shape.end(), first.shape.begin() + 1))
                return value_error("incompatible shapes for concatenation: " + shape_text(first.shape) +
                                   " vs " + shape_text(a->shape));
            overflows |= __builtin_add_overflow(rows, a->shape[0], &rows);
        }
        shape = first.shape;
        shape[0] = rows;
    }
    if (overflows) return value_error("concatenated length along axis 0 does not fit in 64 bits");

    Result<CoreArray> joined = allocate(std::move(shape));
    if (!joined) return joined;
    CoreArray& out = joined.value();
    float* dst = out.f32();
    for (const CoreArray* a : arrays) {
        const uint64_t n = a->element_count();
        if (n) std::memcpy(dst, a->f32(), n * sizeof(float));
        dst += n;
    }
    return joined;
}

}  // namespace tessra
