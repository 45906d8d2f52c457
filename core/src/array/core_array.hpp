#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "array/aligned_buffer.hpp"
#include "array/dtype.hpp"
#include "util/error.hpp"

namespace tessra {

using Shape = std::vector<uint64_t>;

// Element count and C-order byte strides of a shape that passed `shape_layout`.
struct Layout {
    uint64_t count;
    Shape strides;
};
// The one check of every shape an array is made with: the element count (1 for a 0-d shape,
// 0 when any extent is 0, wherever it stands) and the strides for elements of
// `element_size` bytes. ValueError when either does not fit in 64 bits.
Result<Layout> shape_layout(std::span<const uint64_t> shape, uint64_t element_size);

// Element count of a shape that passed the check (an invariant failure otherwise).
uint64_t element_count(std::span<const uint64_t> shape);

struct CoreArray {
    AlignedBuffer data;
    Shape shape;
    Shape strides;
    DType dtype = DType::Float32;

    uint64_t ndim() const { return shape.size(); }
    uint64_t element_count() const { return tessra::element_count(shape); }
    uint64_t element_size() const { return dtype_size(dtype); }
    bool is_f32() const { return dtype == DType::Float32; }
    bool is_contiguous() const;

    // Typed views of the first element-count values of the buffer.
    float* f32() { return data.as<float>(); }
    const float* f32() const { return data.as<float>(); }
    std::span<const float> f32_span() const { return {f32(), static_cast<size_t>(element_count())}; }
    std::span<float> f32_span() { return {f32(), static_cast<size_t>(element_count())}; }
};

// Float32 array of `shape` holding `values`; ValueError when the lengths differ.
Result<CoreArray> from_vec(Shape shape, std::vector<float> values);
// As from_vec, with the values already in an aligned buffer holding `count` floats.
Result<CoreArray> from_buffer(Shape shape, AlignedBuffer values, uint64_t count);
// Zero-filled array of `shape`.
Result<CoreArray> zeroed(Shape shape, DType dtype = DType::Float32);
// Array of `shape` whose buffer the caller must fill completely before anyone reads it.
Result<CoreArray> allocate(Shape shape, DType dtype = DType::Float32);
// As `allocate`, for a shape known to pass the check: that of an existing array or a part of it.
CoreArray uninit(Shape shape, DType dtype = DType::Float32);
// Deep copy: new buffer, same bytes, shape, strides and type.
CoreArray core_array_clone(const CoreArray& a);

// "CoreArray(shape=[2], dtype=Float32, data=[1.0, 2.0])"
std::string core_array_repr(const CoreArray& a);

}  // namespace tessra
