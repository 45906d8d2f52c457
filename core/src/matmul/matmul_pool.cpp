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

#include "util/panic.hpp"

namespace tessra {

namespace {

thread_local bool t_is_matmul_worker = false;

class MatmulPool {
public:
    // Threads started before a failure keep using the pool, so it is never freed.
    void start(size_t threads) {
        for (size_t i = 0; i < threads; ++i) {
            std::thread worker([this] {
                t_is_matmul_worker = true;
                work();
            });
            // Named here, not by the worker, so the name is in place before the product returns.
            const std::string name = "tessra-mm-" + std::to_string(i);
            pthread_setname_np(worker.native_handle(), name.c_str());
            worker.detach();
            ++size_;
        }
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
    [[noreturn]] void work() {
        while (true) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [&] { return !jobs_.empty(); });
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    size_t size_ = 0;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
};

std::atomic<MatmulPool*> g_pool{nullptr};

MatmulPool& pool_for(size_t threads) {
    static MatmulPool* made = [&] {
        try {
            auto* p = new MatmulPool;  // lives as long as the process
            p->start(threads == 0 ? 1 : threads);
            g_pool.store(p, std::memory_order_release);
            return p;
        } catch (const std::system_error&) {
            panic("[tessra] Failed to build Rayon ThreadPool for matmul");
        }
    }();
    return *made;
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
