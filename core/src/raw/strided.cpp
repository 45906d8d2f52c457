// Reductions over a strided view of caller-owned single-precision values.
#include <algorithm>
#include <cstring>
#include <vector>

#include "raw/raw_address.hpp"
#include "raw/timed.hpp"

namespace tessra::raw {

namespace {

using Extents = std::span<const int64_t>;

// Visits every element of a non-empty view in row-major order of the index tuples. Offsets are
// signed 64-bit byte sums taken modulo 2^64; the element is the one at offset / 4 (truncating).
template <class Visit>
void walk(uint64_t data, Extents shape, Extents strides, Visit visit) {
    const size_t d_count = shape.size();
    std::vector<uint64_t> stride(d_count, 0);
    for (size_t d = 0; d < d_count && d < strides.size(); ++d) stride[d] = static_cast<uint64_t>(strides[d]);
    std::vector<int64_t> idx(d_count, 0);
    const int64_t inner = shape[d_count - 1];
    const uint64_t inner_stride = stride[d_count - 1];
    uint64_t base = 0;  // offset of the outer axes' indices
    for (;;) {
        uint64_t offset = base;
        for (int64_t i = 0; i < inner; ++i, offset += inner_stride) {
            const int64_t element = static_cast<int64_t>(offset) / 4;
            float v;
            std::memcpy(&v, reinterpret_cast<const void*>(data + static_cast<uint64_t>(element) * 4),
                        sizeof v);
            visit(v);
        }
        size_t d = d_count - 1;
        for (;;) {
            if (d == 0) return;
            --d;
            ++idx[d];
            base += stride[d];
            if (idx[d] < shape[d]) break;
            base -= static_cast<uint64_t>(idx[d]) * stride[d];
            idx[d] = 0;
        }
    }
}

// A non-empty view whose element count, or whose bytes from its lowest to its highest element,
// do not fit in 64 bits: no caller owns such a buffer, and its offsets would wrap.
Status check_view_bytes(Extents shape, Extents strides) {
    uint64_t count = 1, span = sizeof(float);
    for (size_t d = 0; d < shape.size(); ++d) {
        const uint64_t extent = static_cast<uint64_t>(shape[d]);
        const int64_t s = d < strides.size() ? strides[d] : 0;
        const uint64_t step = s < 0 ? 0 - static_cast<uint64_t>(s) : static_cast<uint64_t>(s);
        count = saturating_mul(count, extent);
        span = saturating_add(span, saturating_mul(extent - 1, step));
    }
    return check_bytes("view", {std::max(saturating_mul(count, sizeof(float)), span)});
}

// Shared front of the four functions: the address, extent, empty-list and size tests, then the
// scope. `on_empty_list` is the empty-list exit; `work` gets the element count (a wrapping
// product) and whether an extent of 0 empties the view.
template <class T, class Work>
Result<T> strided(const char* fn, const char* operation, uint64_t data, Extents shape,
                  Extents strides, Result<T> on_empty_list, Work work) {
    if (Status s = check_addresses(fn, {data}); !s) return s.error();
    for (int64_t e : shape)
        if (e < 0) return value_error("shape extents must be non-negative");
    if (shape.empty()) return on_empty_list;
    uint64_t elements = 1;
    bool empty = false;
    for (int64_t e : shape) {
        elements *= static_cast<uint64_t>(e);
        empty = empty || e == 0;
    }
    if (!empty)
        if (Status s = check_view_bytes(shape, strides); !s) return s.error();
    return timed(operation, "CPU", elements, [&]() -> Result<T> { return work(elements, empty); });
}

float walk_sum(uint64_t data, Extents shape, Extents strides, bool empty) {
    float s = 0.0f;
    if (!empty) walk(data, shape, strides, [&](float v) { s += v; });
    return s;
}

// Keeps the first element and replaces it only when `better` says so, so a NaN never wins later.
template <class Better>
Result<float> walk_extreme(uint64_t data, Extents shape, Extents strides, bool empty,
                           const char* empty_message, Better better) {
    if (empty) return value_error(empty_message);
    bool first = true;
    float m = 0.0f;
    walk(data, shape, strides, [&](float v) {
        if (first || better(v, m)) m = v;
        first = false;
    });
    return m;
}

constexpr const char* kMeanEmpty = "Cannot compute mean of empty array";
constexpr const char* kMaxEmpty = "Cannot compute max of empty array";
constexpr const char* kMinEmpty = "Cannot compute min of empty array";

}  // namespace

Result<float> sum_f32_strided(uint64_t data, Extents shape, Extents strides) {
    return strided<float>("array_sum_f32_strided", "sum_strided", data, shape, strides, 0.0f,
                          [&](uint64_t, bool empty) -> Result<float> {
                              return walk_sum(data, shape, strides, empty);
                          });
}

Result<float> mean_f32_strided(uint64_t data, Extents shape, Extents strides) {
    return strided<float>("array_mean_f32_strided", "mean_strided", data, shape, strides,
                          value_error(kMeanEmpty), [&](uint64_t n, bool empty) -> Result<float> {
                              if (empty) return 0.0f;
                              return walk_sum(data, shape, strides, empty) / static_cast<float>(n);
                          });
}

Result<float> max_f32_strided(uint64_t data, Extents shape, Extents strides) {
    return strided<float>("array_max_f32_strided", "max_strided", data, shape, strides,
                          value_error(kMaxEmpty), [&](uint64_t, bool empty) {
                              return walk_extreme(data, shape, strides, empty, kMaxEmpty,
                                                  [](float v, float m) { return v > m; });
                          });
}

Result<float> min_f32_strided(uint64_t data, Extents shape, Extents strides) {
    return strided<float>("array_min_f32_strided", "min_strided", data, shape, strides,
                          value_error(kMinEmpty), [&](uint64_t, bool empty) {
                              return walk_extreme(data, shape, strides, empty, kMinEmpty,
                                                  [](float v, float m) { return v < m; });
                          });
}

}  // namespace tessra::raw
