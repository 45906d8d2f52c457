#include "ops/chunk_sum.hpp"

#include <algorithm>
#include <cstring>

#include "scheduler/arena.hpp"
#include "scheduler/pool.hpp"
#include "util/panic.hpp"

namespace tessra {

namespace {

float plain_sum(const float* v, uint64_t n) {
    float s = 0.0f;
    for (uint64_t i = 0; i < n; ++i) s += v[i];
    return s;
}

float kahan_sum(const float* v, uint64_t n) {
    float s = 0.0f, c = 0.0f;
    for (uint64_t i = 0; i < n; ++i) {
        float y = v[i] - c;
        float t = s + y;
        c = (t - s) - y;
        s = t;
    }
    return s;
}

// One chunk, summed on the thread that runs it.
float chunk_sum(const float* v, uint64_t n) {
    if (const Arena* held = held_thread_arena()) {
        // The calling thread joins the pool's work while a scope user further up its stack
        // holds its Arena. A copy would only move the same values, so sum them where they are,
        // compensated exactly when the copy would have fitted.
        return held->fits_f32(n) ? kahan_sum(v, n) : plain_sum(v, n);
    }
    return with_thread_arena([&](Arena& arena) {
        float* copy = arena.alloc_f32(n);
        if (copy == nullptr) return plain_sum(v, n);
        if (n) std::memcpy(copy, v, n * sizeof(float));
        return kahan_sum(copy, n);
    });
}

struct ChunkSum {
    const float* data;
    uint64_t count;
    uint64_t chunk_size;

    // Chunks [lo, hi): a single chunk is a leaf that starts from -0.0; wider pieces split
    // into a left half of floor(k / 2) chunks and the rest, run fork-join, added left + right.
    float over(uint64_t lo, uint64_t hi) const {
        if (hi - lo <= 1) {
            float acc = -0.0f;
            if (hi > lo) {
                uint64_t begin = lo * chunk_size;
                acc = acc + chunk_sum(data + begin, std::min(chunk_size, count - begin));
            }
            return acc;
        }
        uint64_t mid = lo + (hi - lo) / 2;
        float left = 0.0f, right = 0.0f;
        pool::parallel_invoke([&] { left = over(lo, mid); }, [&] { right = over(mid, hi); });
        return left + right;
    }
};

}  // namespace

float arena_sum_f32_chunks(const float* data, uint64_t count, uint64_t chunk_size) {
    if (chunk_size == 0) panic("arena_sum_f32_chunks needs a chunk size of at least 1");
    uint64_t chunks = count / chunk_size + (count % chunk_size != 0);
    return ChunkSum{data, count, chunk_size}.over(0, chunks);
}

}  // namespace tessra
