#pragma once
// Per-object borrow flags: 0 free, n > 0 shared borrows, -1 borrowed exclusively.
// Guards release on every path out of a call.
#include <atomic>
#include <cstdint>
#include <type_traits>

#include "util/error.hpp"

namespace tessra::py {

struct BorrowFlag {
    std::atomic<int64_t> state{0};
};

// Holds one borrow of a flag: shared (any number at once) or exclusive (alone).
template <bool Exclusive>
class BorrowGuard {
public:
    explicit BorrowGuard(BorrowFlag& f) : flag_(&f) {
        // Both messages are texts Python callers see.
        if constexpr (Exclusive) {
            int64_t expected = 0;
            if (!f.state.compare_exchange_strong(expected, -1, std::memory_order_acquire))
                throw runtime_error("Already borrowed");
        } else {
            int64_t cur = f.state.load(std::memory_order_relaxed);
            do {
                if (cur < 0) throw runtime_error("Already mutably borrowed");
            } while (!f.state.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire));
        }
    }
    BorrowGuard(BorrowGuard&& o) noexcept : flag_(o.flag_) { o.flag_ = nullptr; }
    BorrowGuard(const BorrowGuard&) = delete;
    BorrowGuard& operator=(const BorrowGuard&) = delete;
    BorrowGuard& operator=(BorrowGuard&&) = delete;
    ~BorrowGuard() {
        if (flag_ == nullptr) return;
        if constexpr (Exclusive)
            flag_->state.store(0, std::memory_order_release);
        else
            flag_->state.fetch_sub(1, std::memory_order_release);
    }

private:
    BorrowFlag* flag_;
};

using SharedBorrow = BorrowGuard<false>;
using ExclusiveBorrow = BorrowGuard<true>;

// A borrowed Python object of class layout `Obj` (which has `borrow` and `value` members).
template <class Obj, class Guard>
class Borrowed {
public:
    explicit Borrowed(Obj* o) : guard_(o->borrow), obj_(o) {}
    using Value = decltype(Obj::value);
    using Ref = std::conditional_t<std::is_same_v<Guard, SharedBorrow>, const Value&, Value&>;

    Ref operator*() const { return obj_->value; }
    std::remove_reference_t<Ref>* operator->() const { return &obj_->value; }
    Obj* object() const { return obj_; }

private:
    Guard guard_;
    Obj* obj_;
};

template <class Obj>
using Shared = Borrowed<Obj, SharedBorrow>;
template <class Obj>
using Exclusive = Borrowed<Obj, ExclusiveBorrow>;

}  // namespace tessra::py
