#include "array/core_array.hpp"

#include <cstring>

#include "util/float_text.hpp"
#include "util/panic.hpp"
#include "util/shape_text.hpp"

namespace tessra {

namespace {
Error shape_too_large(std::span<const uint64_t> shape, const char* what) {
    return value_error("Shape " + shape_text(shape) + " is too large: its " + what +
                       " does not fit in 64 bits");
}
}  // namespace

Result<Layout> shape_layout(std::span<const uint64_t> shape, uint64_t element_size) {
    Layout layout{1, Shape(shape.size())};
    bool empty = false, overflows = false;
    for (uint64_t d : shape) {
        empty |= d == 0;
        overflows |= __builtin_mul_overflow(layout.count, d, &layout.count);
    }
    // An extent of 0 empties the shape even after the product of the others has wrapped.
    if (empty)
        layout.count = 0;
    else if (overflows)
        return shape_too_large(shape, "element count");
    uint64_t stride = element_size;
    for (size_t i = shape.size(); i-- > 0;) {
        layout.strides[i] = stride;
        if (i > 0 && __builtin_mul_overflow(stride, shape[i], &stride))
            return shape_too_large(shape, "stride");
    }
    return layout;
}

uint64_t element_count(std::span<const uint64_t> shape) {
    uint64_t n = 1;
    bool overflows = false;
    for (uint64_t d : shape) {
        if (d == 0) return 0;
        overflows |= __builtin_mul_overflow(n, d, &n);
    }
    if (overflows) panic("Invalid layout for aligned allocation");
    return n;
}

bool CoreArray::is_contiguous() const {
    Result<Layout> layout = shape_layout(shape, element_size());
    return layout && layout.value().strides == strides;
}

namespace {
// An array of a checked shape; its buffer's size is the allocation limit's to judge.
CoreArray make(Shape shape, DType dtype, Layout layout, bool zero) {
    const uint64_t size = dtype_size(dtype);
    if (layout.count > AlignedBuffer::kMaxSize / size)
        panic("Invalid layout for aligned allocation");
    CoreArray a;
    const uint64_t bytes = layout.count * size;
    a.data = zero ? AlignedBuffer::zeroed(bytes) : AlignedBuffer::uninit(bytes);
    a.strides = std::move(layout.strides);
    a.shape = std::move(shape);
    a.dtype = dtype;
    return a;
}

Result<CoreArray> make(Shape shape, DType dtype, bool zero) {
    Result<Layout> layout = shape_layout(shape, dtype_size(dtype));
    if (!layout) return layout.error();
    return make(std::move(shape), dtype, std::move(layout).value(), zero);
}

Error length_mismatch(uint64_t len, const Shape& shape, uint64_t expected) {
    return value_error("Data length " + std::to_string(len) + " does not match shape " +
                       shape_text(shape) + " (expected " + std::to_string(expected) + ")");
}
}  // namespace

Result<CoreArray> from_vec(Shape shape, std::vector<float> values) {
    Result<Layout> layout = shape_layout(shape, sizeof(float));
    if (!layout) return layout.error();
    const uint64_t n = layout.value().count;
    if (values.size() != n) return length_mismatch(values.size(), shape, n);
    CoreArray a = make(std::move(shape), DType::Float32, std::move(layout).value(), false);
    if (n) std::memcpy(a.data.data(), values.data(), n * sizeof(float));
    return a;
}

Result<CoreArray> from_buffer(Shape shape, AlignedBuffer values, uint64_t count) {
    Result<Layout> layout = shape_layout(shape, sizeof(float));
    if (!layout) return layout.error();
    const uint64_t n = layout.value().count;
    if (count != n) return length_mismatch(count, shape, n);
    CoreArray a;
    a.data = std::move(values);
    a.strides = std::move(layout).value().strides;
    a.shape = std::move(shape);
    return a;
}

Result<CoreArray> zeroed(Shape shape, DType dtype) { return make(std::move(shape), dtype, true); }

Result<CoreArray> allocate(Shape shape, DType dtype) {
    return make(std::move(shape), dtype, false);
}

CoreArray uninit(Shape shape, DType dtype) {
    Result<CoreArray> a = make(std::move(shape), dtype, false);
    if (!a) panic(a.error().message);
    return std::move(a).value();
}

CoreArray core_array_clone(const CoreArray& a) {
    CoreArray c;
    c.data = AlignedBuffer::uninit(a.data.size());
    if (a.data.size()) std::memcpy(c.data.data(), a.data.data(), a.data.size());
    c.shape = a.shape;
    c.strides = a.strides;
    c.dtype = a.dtype;
    return c;
}

std::string core_array_repr(const CoreArray& a) {
    std::string s = "CoreArray(shape=" + shape_text(a.shape) + ", dtype=" + dtype_name(a.dtype) +
                    ", data=";
    uint64_t n = a.element_count();
    if (n > 8 || !a.is_f32()) {
        s += "[" + std::to_string(n) + " elements]";
    } else {
        s += '[';
        for (uint64_t i = 0; i < n; ++i) {
            if (i) s += ", ";
            append_float_text(s, a.f32()[i]);
        }
        s += ']';
    }
    s += ')';
    return s;
}

}  // namespace tessra
