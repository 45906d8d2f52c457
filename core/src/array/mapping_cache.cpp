#include "array/mapping_cache.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

namespace tessra {

namespace {

using Clock = std::chrono::steady_clock;

// A mapping unused this long is lent to the kernel. A loop that frees and makes the same
// buffers takes them back within microseconds and never pays for the advice, which costs a
// TLB shootdown across every busy thread of the process.
constexpr auto kLendAfter = std::chrono::milliseconds(100);

// MADV_FREE: the kernel may drop the pages under pressure without swap, and a page it dropped
// reads as zero; one it left keeps its frame, so the next writer pays no fault.
bool lend(std::byte* p, uint64_t length) { return madvise(p, length, MADV_FREE) == 0; }

// Enough entries for a whole frame's columns to come back; the byte budget bounds the address
// space an idle process keeps.
class MappingCache {
public:
    MappingCache() { pthread_atfork(lock_for_fork, unlock_for_fork, reset_in_child); }

    std::byte* take(uint64_t length) {
        std::lock_guard lock(mutex_);
        for (int i = 0; i < count_; ++i)
            if (entries_[i].length == length) return remove(i).ptr;
        return nullptr;
    }

    bool keep(std::byte* p, uint64_t length) {
        if (length > kBudget) return false;
        std::unique_lock lock(mutex_);
        const bool lend_later = lender_running_ || start_lender();
        if (!lend_later) {
            // No thread to lend it later: lend it now, before any taker can write to it.
            lock.unlock();
            if (!lend(p, length)) return false;  // the caller unmaps it: nothing dirty is kept
            lock.lock();
        }
        // The newest buffer is the likeliest to be wanted again: the oldest make room for it.
        Entry evicted[kEntries];
        int n = 0;
        while (!has_room(length)) evicted[n++] = remove(oldest());
        insert({p, length, Clock::now(), !lend_later});
        lock.unlock();
        for (int i = 0; i < n; ++i) munmap(evicted[i].ptr, evicted[i].length);
        return true;
    }

private:
    static constexpr int kEntries = 16;
    static constexpr uint64_t kBudget = uint64_t{512} << 20;
    struct Entry {
        std::byte* ptr;
        uint64_t length;
        Clock::time_point kept_at;
        bool lent;
    };

    bool has_room(uint64_t length) const { return count_ < kEntries && bytes_ + length <= kBudget; }
    void insert(const Entry& e) {
        entries_[count_++] = e;
        bytes_ += e.length;
    }
    int oldest() const {
        int at = 0;
        for (int i = 1; i < count_; ++i)
            if (entries_[i].kept_at < entries_[at].kept_at) at = i;
        return at;
    }
    Entry remove(int i) {
        const Entry e = entries_[i];
        bytes_ -= e.length;
        entries_[i] = entries_[--count_];
        return e;
    }

    // With mutex_ held. The lender runs while unlent entries wait and ends when none is left.
    bool start_lender() {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) return false;
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        pthread_attr_setstacksize(&attr, size_t{256} << 10);
        // Signals are the interpreter's business: the lender blocks them all.
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        pthread_t thread;
        const int rc = pthread_create(
            &thread, &attr,
            [](void* self) -> void* {
                pthread_setname_np(pthread_self(), "tessra-lend");
                static_cast<MappingCache*>(self)->lend_waiting();
                return nullptr;
            },
            this);
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        pthread_attr_destroy(&attr);
        lender_running_ = rc == 0;
        return lender_running_;
    }

    // With mutex_ held: moves the unlent entries that have waited long enough into `due` and
    // returns how many; `next` becomes the time the next waiting one is due, if there is one.
    int take_due(Entry* due, std::optional<Clock::time_point>& next) {
        const auto now = Clock::now();
        int n = 0;
        for (int i = 0; i < count_;) {
            const Entry& e = entries_[i];
            if (!e.lent && now - e.kept_at >= kLendAfter) {
                due[n++] = remove(i);
                continue;
            }
            if (!e.lent)
                next = std::min(next.value_or(Clock::time_point::max()), e.kept_at + kLendAfter);
            ++i;
        }
        return n;
    }

    void lend_waiting() {
        for (;;) {
            Entry due[kEntries];
            int n = 0;
            std::optional<Clock::time_point> next;
            {
                std::lock_guard lock(mutex_);
                n = take_due(due, next);
                if (n == 0 && !next) {
                    lender_running_ = false;
                    return;
                }
            }
            if (n == 0) {
                std::this_thread::sleep_until(*next);
                continue;
            }
            // Out of the cache while the kernel is told, so that no taker writes to them meanwhile.
            for (int i = 0; i < n; ++i) due[i].lent = lend(due[i].ptr, due[i].length);
            {
                std::lock_guard lock(mutex_);
                for (int i = 0; i < n; ++i)
                    if (due[i].lent && has_room(due[i].length)) {
                        insert(due[i]);
                        due[i].ptr = nullptr;
                    }
            }
            for (int i = 0; i < n; ++i)
                if (due[i].ptr != nullptr) munmap(due[i].ptr, due[i].length);
        }
    }

    // A forked child has no lender: it starts its own on its first keep. Entries the parent's
    // lender held outside the cache at the fork stay mapped in the child, unused.
    static void lock_for_fork();
    static void unlock_for_fork();
    static void reset_in_child();

    std::mutex mutex_;
    Entry entries_[kEntries] = {};
    int count_ = 0;
    uint64_t bytes_ = 0;
    bool lender_running_ = false;
};

MappingCache& cache() {
    static MappingCache* c = new MappingCache();  // never torn down: buffers outlive exit
    return *c;
}

void MappingCache::lock_for_fork() { cache().mutex_.lock(); }
void MappingCache::unlock_for_fork() { cache().mutex_.unlock(); }
void MappingCache::reset_in_child() {
    cache().lender_running_ = false;
    cache().mutex_.unlock();
}

}  // namespace

std::byte* take_cached_mapping(uint64_t length) { return cache().take(length); }
bool keep_cached_mapping(std::byte* p, uint64_t length) { return cache().keep(p, length); }

}  // namespace tessra
