#include "array/core_array.hpp"

#include <cstring>

#include "util/float_text.hpp"
#include "util/panic.hpp"
#include "util/shape_text.hpp"

namespace tessra {

uint64_t element_count(std::span<const uint64_t> shape) {
    uint64_t n = 1;
    for (uint64_t d : shape)
        if (__builtin_mul_overflow(n, d, &n)) panic("Invalid layout for aligned allocation");
    return n;
}

Shape c_strides(std::span<const uint64_t> shape, uint64_t element_size) {
    Shape s(shape.size());
    uint64_t stride = element_size;
    for (size_t i = shape.size(); i-- > 0;) {
        s[i] = stride;
        stride *= shape[i];
    }
    return s;
}

bool CoreArray::is_contiguous() const { return strides == c_strides(shape, element_size()); }

namespace {
uint64_t byte_size(std::span<const uint64_t> shape, DType dtype) {
    uint64_t n = element_count(shape);
    uint64_t size = dtype_size(dtype);
    if (n > AlignedBuffer::kMaxSize / size) panic("Invalid layout for aligned allocation");
    return n * size;
}

CoreArray make(Shape shape, DType dtype, AlignedBuffer data) {
    CoreArray a;
    a.strides = c_strides(shape, dtype_size(dtype));
    a.shape = std::move(shape);
    a.dtype = dtype;
    a.data = std::move(data);
    return a;
}

Error length_mismatch(uint64_t len, const Shape& shape, uint64_t expected) {
    return value_error("Data length " + std::to_string(len) + " does not match shape " +
                       shape_text(shape) + " (expected " + std::to_string(expected) + ")");
}
}  // namespace

Result<CoreArray> from_vec(Shape shape, std::vector<float> values) {
    uint64_t n = element_count(shape);
    if (values.size() != n) return length_mismatch(values.size(), shape, n);
    AlignedBuffer buf = AlignedBuffer::uninit(byte_size(shape, DType::Float32));
    if (n) std::memcpy(buf.data(), values.data(), n * sizeof(float));
    return make(std::move(shape), DType::Float32, std::move(buf));
}

Result<CoreArray> from_buffer(Shape shape, AlignedBuffer values, uint64_t count) {
    uint64_t n = element_count(shape);
    if (count != n) return length_mismatch(count, shape, n);
    return make(std::move(shape), DType::Float32, std::move(values));
}

CoreArray zeroed(Shape shape, DType dtype) {
    uint64_t size = byte_size(shape, dtype);
    return make(std::move(shape), dtype, AlignedBuffer::zeroed(size));
}

CoreArray uninit(Shape shape, DType dtype) {
    uint64_t size = byte_size(shape, dtype);
    return make(std::move(shape), dtype, AlignedBuffer::uninit(size));
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
