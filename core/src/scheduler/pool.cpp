#include "scheduler/pool.hpp"

#include <pthread.h>
#include <sys/mman.h>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/info.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "scheduler/tbb_arena.hpp"
#include "util/decimal.hpp"
#include "util/error.hpp"

namespace tessra::pool {

namespace {

size_t cores() { return static_cast<size_t>(std::max(1, tbb::info::default_concurrency())); }

size_t settled_size() {
    static const size_t size = [] {
        const auto v = plain_u64(std::getenv("RAYON_NUM_THREADS"));
        return v && *v > 0 ? static_cast<size_t>(*v) : cores();
    }();
    return size;
}

Error thread_start_error(const std::string& why) {
    return runtime_error("Failed to start a worker thread: " + why);
}

// Address space a starting worker needs beside its stack (thread-local blocks, the library's
// per-thread state, small allocations that each take a page when malloc is short of room).
constexpr size_t kStartHeadroom = size_t{1} << 20;

// Starts `count` threads with the stack size the library gives its workers and holds them, and
// room for their first allocations, until all have started; then lets them end. The library
// starts its workers from inside other workers, where a failure can only end the process; this
// tries the same starts on the calling thread first, where a failure can be reported. The
// stacks of the probe threads stay in the C library's cache for the workers that start next.
int try_thread_starts(size_t count) {
    if (count == 0) return 0;
    struct Room {
        size_t size;
        void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        ~Room() {
            if (p != MAP_FAILED) munmap(p, size);
        }
    } room{count * kStartHeadroom};
    if (room.p == MAP_FAILED) return ENOMEM;
    struct Gate {
        std::mutex m;
        std::condition_variable cv;
        bool open = false;
    } gate;
    std::vector<pthread_t> started;
    started.reserve(count);
    pthread_attr_t attr;
    if (int rc = pthread_attr_init(&attr)) return rc;
    const auto stack = tbb::global_control::active_value(tbb::global_control::thread_stack_size);
    int rc = stack ? pthread_attr_setstacksize(&attr, stack) : 0;
    auto hold = [](void* p) -> void* {
        auto& g = *static_cast<Gate*>(p);
        std::unique_lock lock(g.m);
        g.cv.wait(lock, [&] { return g.open; });
        return nullptr;
    };
    while (rc == 0 && started.size() < count) {
        pthread_t t;
        rc = pthread_create(&t, &attr, hold, &gate);
        if (rc == 0) started.push_back(t);
    }
    pthread_attr_destroy(&attr);
    {
        std::lock_guard lock(gate.m);
        gate.open = true;
    }
    gate.cv.notify_all();
    for (pthread_t t : started) pthread_join(t, nullptr);
    return rc;
}

}  // namespace

tbb::task_arena& general_arena() {
    // A failed start leaves the cell empty, so the next parallel loop tries again.
    static tbb::task_arena* arena = [] {
        // More threads than cores only make the library warn and run fewer.
        const size_t threads = std::min(settled_size(), cores());
        if (int rc = try_thread_starts(threads - 1)) throw thread_start_error(std::strerror(rc));
        auto* made = new tbb::task_arena(static_cast<int>(threads));  // kept for the process's life
        made->initialize();
        return made;
    }();
    return *arena;
}

size_t thread_count() { return settled_size(); }

size_t grain_for(size_t n, size_t per_thread, size_t min_grain) {
    size_t pieces;
    if (__builtin_mul_overflow(settled_size(), per_thread, &pieces)) pieces = SIZE_MAX;
    const size_t even = n / pieces + (n % pieces != 0);
    return std::max(even, min_grain);
}

namespace detail {

void settle() { (void)settled_size(); }

void run_tasks(size_t count, void (*call)(const void*, size_t), const void* context) {
    try {
        general_arena().execute([&] {
            tbb::parallel_for(
                tbb::blocked_range<size_t>(0, count, 1),
                [&](const tbb::blocked_range<size_t>& r) {
                    for (size_t i = r.begin(); i < r.end(); ++i) call(context, i);
                },
                tbb::simple_partitioner());
        });
    } catch (const std::runtime_error& e) {
        // The library reports a worker it could not start with a plain runtime_error.
        if (typeid(e) != typeid(std::runtime_error)) throw;
        throw thread_start_error(e.what());
    }
}

}  // namespace detail

}  // namespace tessra::pool
