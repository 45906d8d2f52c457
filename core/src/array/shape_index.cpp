#include "array/shape_index.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "scheduler/pool.hpp"
#include "util/shape_text.hpp"

namespace tessra {

namespace {

using std::to_string;

Error out_of_bounds(uint64_t index, uint64_t count) {
    return index_error("index " + to_string(index) + " out of bounds for array with " +
                       to_string(count) + " elements");
}

// ---- transpose ------------------------------------------------------------------------------

using v4f = float __attribute__((vector_size(16)));
using v4i = int32_t __attribute__((vector_size(16)));

#if defined(__clang__)
#define TESSRA_SHUFFLE(a, b, i, j, k, l) __builtin_shufflevector(a, b, i, j, k, l)
#else
#define TESSRA_SHUFFLE(a, b, i, j, k, l) __builtin_shuffle(a, b, v4i{i, j, k, l})
#endif

inline v4f load4(const float* p) {
    v4f v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store4(float* p, v4f v) { std::memcpy(p, &v, sizeof v); }

// One 4x4 block: four input rows (stride `ldi`) become four output rows (stride `ldo`).
inline void transpose4x4(const float* in, size_t ldi, float* out, size_t ldo) {
    const v4f a = load4(in), b = load4(in + ldi), c = load4(in + 2 * ldi), d = load4(in + 3 * ldi);
    const v4f ab_lo = TESSRA_SHUFFLE(a, b, 0, 4, 1, 5), ab_hi = TESSRA_SHUFFLE(a, b, 2, 6, 3, 7);
    const v4f cd_lo = TESSRA_SHUFFLE(c, d, 0, 4, 1, 5), cd_hi = TESSRA_SHUFFLE(c, d, 2, 6, 3, 7);
    store4(out, TESSRA_SHUFFLE(ab_lo, cd_lo, 0, 1, 4, 5));
    store4(out + ldo, TESSRA_SHUFFLE(ab_lo, cd_lo, 2, 3, 6, 7));
    store4(out + 2 * ldo, TESSRA_SHUFFLE(ab_hi, cd_hi, 0, 1, 4, 5));
    store4(out + 3 * ldo, TESSRA_SHUFFLE(ab_hi, cd_hi, 2, 3, 6, 7));
}

// Input rows [i0, i1) by columns [j0, j1) of an r x c matrix into the c x r output.
void transpose_tile(const float* in, float* out, size_t r, size_t c, size_t i0, size_t i1,
                    size_t j0, size_t j1) {
    size_t j = j0;
    for (; j + 4 <= j1; j += 4) {
        size_t i = i0;
        for (; i + 4 <= i1; i += 4) transpose4x4(in + i * c + j, c, out + j * r + i, r);
        for (; i < i1; ++i)
            for (size_t k = j; k < j + 4; ++k) out[k * r + i] = in[i * c + k];
    }
    for (; j < j1; ++j)
        for (size_t i = i0; i < i1; ++i) out[j * r + i] = in[i * c + j];
}

// Tiles small enough that the rows a tile touches stay in L1 while it is written: each tile
// fills whole cache lines of kTile output rows.
constexpr size_t kTile = 16;

void transpose_f32(const float* in, float* out, size_t r, size_t c) {
    // A task is a band of output rows (input columns) over a run of input rows; runs are
    // lengthened for narrow inputs and bands widened for short ones, so that no task is tiny.
    const size_t rows_per_task = std::min(r, std::max<size_t>(1024, 16384 / c));
    size_t band = kTile;
    while (band * rows_per_task < 16384 && band < c) band *= 2;
    const size_t bands = (c + band - 1) / band;
    const size_t runs = (r + rows_per_task - 1) / rows_per_task;
    auto task = [&](size_t t) {
        const size_t j0 = (t % bands) * band, j1 = std::min(c, j0 + band);
        const size_t r0 = (t / bands) * rows_per_task, r1 = std::min(r, r0 + rows_per_task);
        for (size_t j = j0; j < j1; j += kTile)
            for (size_t i = r0; i < r1; i += kTile)
                transpose_tile(in, out, r, c, i, std::min(r1, i + kTile), j, std::min(j1, j + kTile));
    };
    const size_t tasks = bands * runs;
    pool::parallel_for(tasks, uint64_t{r} * c <= pool::kRowChunk ? tasks : 1,
                       [&](size_t t0, size_t t1) {
                           for (size_t t = t0; t < t1; ++t) task(t);
                       });
}

}  // namespace

Result<CoreArray> reshape(const CoreArray& a, Shape new_shape) {
    Result<Layout> layout = shape_layout(new_shape, a.element_size());
    if (!layout) return layout.error();
    const uint64_t n = a.element_count();
    const uint64_t m = layout.value().count;
    if (n != m)
        return value_error("Cannot reshape array of " + to_string(n) + " elements into shape " +
                           shape_text(new_shape) + " (" + to_string(m) + " elements)");
    CoreArray out;
    out.data = AlignedBuffer::uninit(a.data.size());
    if (a.data.size()) std::memcpy(out.data.data(), a.data.data(), a.data.size());
    out.strides = std::move(layout).value().strides;
    out.shape = std::move(new_shape);
    out.dtype = a.dtype;
    return out;
}

Result<CoreArray> transpose(const CoreArray& a) {
    if (a.ndim() != 2) return value_error("transpose() requires 2D array, got " + to_string(a.ndim()) + "D");
    if (!a.is_f32()) return type_error("transpose() currently only supports Float32");
    const uint64_t r = a.shape[0], c = a.shape[1];
    // The swapped shape of an empty array can have a stride past 64 bits ([2^63, 0] -> [0, 2^63]).
    Result<CoreArray> out = allocate({c, r});
    if (out && r && c) transpose_f32(a.f32(), out.value().f32(), r, c);
    return out;
}

Result<CoreArray> getitem(const CoreArray& a, int64_t index) {
    if (!a.is_f32()) return type_error("getitem() only supports Float32");
    if (a.ndim() == 0) return index_error("cannot index a scalar array");
    const uint64_t s = a.shape[0];
    // Unsigned arithmetic keeps INT64_MIN and sizes past 2^63 exact.
    const uint64_t back = 0 - static_cast<uint64_t>(index);
    const bool inside = index >= 0 ? static_cast<uint64_t>(index) < s : back <= s;
    if (!inside)
        return index_error("index " + to_string(index) + " out of bounds for axis 0 with size " +
                           to_string(s));
    const uint64_t row = index >= 0 ? static_cast<uint64_t>(index) : s - back;
    Shape shape = a.ndim() == 1 ? Shape{1} : Shape(a.shape.begin() + 1, a.shape.end());
    const uint64_t p = element_count(shape);
    CoreArray out = uninit(std::move(shape));
    if (p) std::memcpy(out.f32(), a.f32() + row * p, p * sizeof(float));
    return out;
}

Result<float> get_scalar(const CoreArray& a, uint64_t index) {
    if (!a.is_f32()) return type_error("get_scalar() only supports Float32");
    const uint64_t n = a.element_count();
    if (index >= n) return out_of_bounds(index, n);
    return a.f32()[index];
}

Result<CoreArray> take(const CoreArray& a, const CoreArray& indices) {
    if (!a.is_f32() || !indices.is_f32()) return type_error("take() currently only supports Float32");
    const uint64_t n = a.element_count();
    const size_t k = indices.element_count();
    CoreArray out = uninit(indices.shape);
    const float* src = a.f32();
    const float* idx = indices.f32();
    float* dst = out.f32();
    // The first bad position in index order decides the error, whichever task meets it first.
    std::atomic<uint64_t> first_bad{UINT64_MAX};
    pool::parallel_for(k, pool::kRowChunk, [&, src, idx, dst, n](size_t begin, size_t end) {
        // Positions are converted a block at a time so that the gather loop is only loads and
        // stores: the fewer instructions per element, the more cache misses overlap.
        constexpr size_t kBlock = 1024;
        int64_t pos[kBlock];
        for (size_t b = begin; b < end; b += kBlock) {
            const size_t len = std::min(kBlock, end - b);
            bool bad = false;
            for (size_t i = 0; i < len; ++i) {
                // Clamped below 2^62, past any element count; exact text comes from float_to_index.
                float v = idx[b + i];
                v = v > 0.0f ? v : 0.0f;
                v = v < 0x1p62f ? v : 0x1p62f;
                pos[i] = static_cast<int64_t>(v);
                bad |= static_cast<uint64_t>(pos[i]) >= n;
            }
            if (bad) {
                size_t i = 0;
                while (static_cast<uint64_t>(pos[i]) < n) ++i;
                uint64_t seen = first_bad.load(std::memory_order_relaxed);
                while (b + i < seen && !first_bad.compare_exchange_weak(seen, b + i)) {
                }
                return;
            }
            // Prefetching a little ahead keeps more misses in flight than the reorder window.
            constexpr size_t kAhead = 32;
            size_t i = 0;
            for (; i + kAhead < len; ++i) {
                __builtin_prefetch(src + pos[i + kAhead]);
                dst[b + i] = src[pos[i]];
            }
            for (; i < len; ++i) dst[b + i] = src[pos[i]];
        }
    });
    const uint64_t bad = first_bad.load();
    if (bad != UINT64_MAX) return out_of_bounds(float_to_index(idx[bad]), n);
    return out;
}

Result<CoreArray> boolean_index(const CoreArray& a, const CoreArray& mask) {
    if (!a.is_f32() || !mask.is_f32())
        return type_error("boolean_index() currently only supports Float32");
    const uint64_t n = a.element_count(), m = mask.element_count();
    if (n != m)
        return value_error("boolean_index: array length " + to_string(n) + " != mask length " +
                           to_string(m));
    const float* x = a.f32();
    const float* keep = mask.f32();
    // Count per chunk, place each chunk's output after the ones before it, then compact.
    constexpr size_t kChunk = pool::kRowChunk;
    std::vector<uint64_t> offset((n + kChunk - 1) / kChunk + 1, 0);
    pool::parallel_for(n, kChunk, [&](size_t begin, size_t end) {
        uint64_t kept = 0;
        for (size_t i = begin; i < end; ++i) kept += keep[i] != 0.0f;
        offset[begin / kChunk + 1] = kept;
    });
    for (size_t c = 1; c < offset.size(); ++c) offset[c] += offset[c - 1];
    CoreArray out = uninit({offset.back()});
    float* dst = out.f32();
    pool::parallel_for(n, kChunk, [&](size_t begin, size_t end) {
        // Write every element and advance past the kept ones; stopping after the chunk's last
        // kept element keeps every write inside the chunk's own part of the output.
        size_t last = end;
        while (last > begin && !(keep[last - 1] != 0.0f)) --last;
        float* o = dst + offset[begin / kChunk];
        for (size_t i = begin; i < last; ++i) {
            *o = x[i];
            o += keep[i] != 0.0f;
        }
    });
    return out;
}

}  // namespace tessra
