#include "matmul/matmul_pool.hpp"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "util/panic.hpp"

namespace tessra {

namespace {

thread_local bool t_is_matmul_worker = false;

class MatmulPool {
public:
    // If a worker cannot start, those that did are stopped and joined before the error leaves,
    // so a failed start leaves no thread behind.
    explicit MatmulPool(size_t threads) {
        std::vector<std::thread> started;
        started.reserve(threads);
        try {
            for (size_t i = 0; i < threads; ++i) {
                started.emplace_back([this] {
                    t_is_matmul_worker = true;
                    work();
                });
                // Named here, not by the worker, so the name is in place before the product returns.
                const std::string name = "tessra-mm-" + std::to_string(i);
                pthread_setname_np(started.back().native_handle(), name.c_str());
            }
        } catch (...) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                stopping_ = true;
            }
            ready_.notify_all();
            for (std::thread& t : started) t.join();
            throw;
        }
        for (std::thread& t : started) t.detach();
        size_ = threads;
    }

    size_t size() const { return size_; }

    void push(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        ready_.notify_one();
    }

private:
    void work() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            ready_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    size_t size_ = 0;
    bool stopping_ = false;  // only while a failed start is undone
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
};

// The pool lives as long as the process; `g_build` is held while one is made.
std::mutex g_build;
std::atomic<MatmulPool*> g_pool{nullptr};

// A forked child has none of the pool's threads: it forgets the pool (leaving its memory as it
// is, since a worker may have held its lock at the fork) and makes its own on first use.
void lock_build() { g_build.lock(); }
void unlock_build() { g_build.unlock(); }
void forget_pool_in_child() {
    g_pool.store(nullptr, std::memory_order_relaxed);
    g_build.unlock();
}

MatmulPool& pool_for(size_t threads) {
    if (MatmulPool* p = g_pool.load(std::memory_order_acquire)) return *p;
    std::lock_guard<std::mutex> lock(g_build);
    if (MatmulPool* p = g_pool.load(std::memory_order_relaxed)) return *p;
    [[maybe_unused]] static const int fork_handlers =
        pthread_atfork(lock_build, unlock_build, forget_pool_in_child);
    try {
        auto* p = new MatmulPool(threads == 0 ? 1 : threads);
        g_pool.store(p, std::memory_order_release);
        return *p;
    } catch (const std::system_error&) {
        panic("[tessra] Failed to build Rayon ThreadPool for matmul");
    }
}

// Counts the batch's unfinished tasks and keeps its first failure.
struct Batch {
    std::mutex mutex;
    std::condition_variable done;
    size_t left;
    std::exception_ptr failure;
};

}  // namespace

void run_on_matmul_pool(size_t threads, size_t count, const std::function<void(size_t)>& task) {
    MatmulPool& pool = pool_for(threads);
    if (count == 0) return;
    if (t_is_matmul_worker) {
        for (size_t i = 0; i < count; ++i) task(i);
        return;
    }
    Batch batch;
    batch.left = count;
    for (size_t i = 0; i < count; ++i) {
        pool.push([&batch, &task, i] {
            std::exception_ptr failed;
            try {
                task(i);
            } catch (...) {
                failed = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(batch.mutex);
            if (failed && !batch.failure) batch.failure = failed;
            if (--batch.left == 0) batch.done.notify_all();
        });
    }
    std::unique_lock<std::mutex> lock(batch.mutex);
    batch.done.wait(lock, [&] { return batch.left == 0; });
    if (batch.failure) std::rethrow_exception(batch.failure);
}

size_t matmul_pool_size() {
    MatmulPool* p = g_pool.load(std::memory_order_acquire);
    return p ? p->size() : 0;
}

}  // namespace tessra
