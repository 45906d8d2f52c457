#pragma once
// The general worker pool. The pool library appears only behind this header and pool.cpp.
//
// Its size, the thread count that chunking reads, is settled once per process by the first
// chunked loop, even one small enough to run inline: RAYON_NUM_THREADS when that is a plain
// positive decimal integer, else one per core. The library runs at most one thread per core
// whatever that size is. Its threads start at the first loop that goes parallel; threads that
// cannot start make that loop throw a RuntimeError value and no work runs.
//
// Callers block until all work has ended; an exception thrown by a piece is re-raised on the
// calling thread after that.
#include <cstddef>
#include <type_traits>
#include <utility>

namespace tessra::pool {

// ---- Size cutoffs -----------------------------------------------------------------------------
// Handing work to the pool costs 10-40 us (waking threads, stealing), so a loop goes parallel
// from roughly 40 us of work on one thread. Counts are items of the loops named.

// Element-wise loops of a few vector instructions per element (~0.15 ns): 2^18 is ~40 us.
inline constexpr size_t kVectorLoopMin = size_t{1} << 18;
// Element-wise loops with one C library call per element (~5 ns): 2^13 is ~40 us.
inline constexpr size_t kLibCallLoopMin = size_t{1} << 13;
// Pieces per thread of element-wise loops: enough for stealing to even out a thread held up by
// page faults or a shared core, no piece below a quarter of the loop minimum.
inline constexpr size_t kPiecesPerThread = 16;
// Rows per piece of gathers, filters and transposes: a row costs from ~1 ns (a filter) to
// ~100 ns (a random gather), so a piece is at least ~60 us.
inline constexpr size_t kRowChunk = size_t{1} << 16;
// Floats per piece of contiguous copies (memcpy, ~0.1 ns per float).
inline constexpr size_t kCopyChunk = size_t{1} << 18;

// ---- Loops ------------------------------------------------------------------------------------

// Size of the pool that chunking divides work by (settles it).
size_t thread_count();

// A piece length that cuts `n` items into `per_thread` pieces per pool thread (rounded up),
// but none shorter than `min_grain`. With per_thread = 1 and min_grain = 1 it is one piece per
// thread: ceil(n / thread_count()).
size_t grain_for(size_t n, size_t per_thread, size_t min_grain);

namespace detail {
void settle();
void run_tasks(size_t count, void (*call)(const void*, size_t), const void* context);
}  // namespace detail

// The number of pieces of `grain` items (0 counting as 1) that [0, n) is cut into.
inline size_t piece_count(size_t n, size_t grain) {
    if (grain == 0) grain = 1;
    return n / grain + (n % grain != 0);
}

// Runs body(c, begin, end) over [0, n) cut into consecutive pieces of `grain` items (the last
// one shorter), piece c starting at c * grain: on the pool when there are two or more pieces,
// on the calling thread when there is one. The piece number indexes per-piece results.
template <class F>
void parallel_for_pieces(size_t n, size_t grain, F&& body) {
    detail::settle();
    if (n == 0) return;
    if (grain == 0) grain = 1;
    if (n <= grain) {
        body(size_t{0}, size_t{0}, n);
        return;
    }
    struct Context {
        std::remove_reference_t<F>* body;
        size_t n, grain;
    } context{&body, n, grain};
    detail::run_tasks(piece_count(n, grain), [](const void* p, size_t c) {
        const auto& ctx = *static_cast<const Context*>(p);
        const size_t begin = c * ctx.grain;
        (*ctx.body)(c, begin, begin + (ctx.n - begin < ctx.grain ? ctx.n - begin : ctx.grain));
    }, &context);
}

// As parallel_for_pieces, with body(begin, end).
template <class F>
void parallel_for(size_t n, size_t grain, F&& body) {
    parallel_for_pieces(n, grain, [&body](size_t, size_t begin, size_t end) { body(begin, end); });
}

// Runs task(i) for each i in [0, count), one index per piece.
template <class F>
void parallel_tasks(size_t count, F&& task) {
    parallel_for(count, 1, [&](size_t i, size_t) { task(i); });
}

// Runs a() and b() in parallel and waits for both.
template <class A, class B>
void parallel_invoke(A&& a, B&& b) {
    parallel_tasks(2, [&](size_t i) { i == 0 ? a() : b(); });
}

}  // namespace tessra::pool
