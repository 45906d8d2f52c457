#pragma once
// The general worker pool. The pool library appears only behind this header and pool.cpp.
// The pool is made on first use with RAYON_NUM_THREADS threads when that is a positive
// integer, else one per core. Callers block until all work has ended; an exception thrown
// by a worker is re-raised on the calling thread after that.
#include <cstddef>
#include <functional>

namespace tessra::pool {

// Number of threads of the general pool (creates the pool).
size_t thread_count();

// Runs body(begin, end) over disjoint sub-ranges covering [0, n), none longer than `grain`.
// Runs inline on the calling thread when n <= grain.
void parallel_for_impl(size_t n, size_t grain, const std::function<void(size_t, size_t)>& body);

template <class F>
void parallel_for(size_t n, size_t grain, F&& body) {
    if (n == 0) return;
    if (grain == 0) grain = 1;
    if (n <= grain) {
        body(size_t{0}, n);
        return;
    }
    parallel_for_impl(n, grain, std::function<void(size_t, size_t)>(std::forward<F>(body)));
}

// Runs each of `count` tasks task(i) on the pool, one per index, and waits for all of them.
void parallel_tasks(size_t count, const std::function<void(size_t)>& task);

// Runs a() and b() in parallel and waits for both.
void parallel_invoke(const std::function<void()>& a, const std::function<void()>& b);

}  // namespace tessra::pool
