#include "scheduler/pool.hpp"

#include "scheduler/tbb_arena.hpp"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/info.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_invoke.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace tessra::pool {

namespace {

int configured_threads() {
    if (const char* env = std::getenv("RAYON_NUM_THREADS")) {
        char* end = nullptr;
        long v = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && v > 0 && v <= 4096) return static_cast<int>(v);
    }
    return tbb::info::default_concurrency();
}

}  // namespace

tbb::task_arena& general_arena() {
    static tbb::task_arena* a = [] {
        auto* made = new tbb::task_arena(configured_threads());  // kept for the process's life
        made->initialize();
        return made;
    }();
    return *a;
}

size_t thread_count() { return static_cast<size_t>(general_arena().max_concurrency()); }

void parallel_for_impl(size_t n, size_t grain, const std::function<void(size_t, size_t)>& body) {
    general_arena().execute([&] {
        tbb::parallel_for(
            tbb::blocked_range<size_t>(0, n, grain),
            [&](const tbb::blocked_range<size_t>& r) { body(r.begin(), r.end()); },
            tbb::simple_partitioner());
    });
}

void parallel_tasks(size_t count, const std::function<void(size_t)>& task) {
    if (count == 0) return;
    if (count == 1) {
        task(0);
        return;
    }
    general_arena().execute([&] {
        tbb::parallel_for(
            tbb::blocked_range<size_t>(0, count, 1),
            [&](const tbb::blocked_range<size_t>& r) {
                for (size_t i = r.begin(); i < r.end(); ++i) task(i);
            },
            tbb::simple_partitioner());
    });
}

void parallel_invoke(const std::function<void()>& a, const std::function<void()>& b) {
    general_arena().execute([&] { tbb::parallel_invoke(a, b); });
}

}  // namespace tessra::pool
