#include "profiler/profiler.hpp"

#include <ctime>
#include <mutex>
#include <utility>

#include "util/panic.hpp"

namespace tessra {

namespace {

// The calling thread's context. Trivially destructible, so reading it costs no TLS guard;
// the text is freed by an exit hook registered on the thread's first use.
struct ContextSlot {
    enum : uint8_t { kNotCreated, kAlive, kDestroyed };
    uint8_t state = kNotCreated;
    std::string* text = nullptr;  // null: no context
};

thread_local ContextSlot t_context;

struct ContextExitHook {
    ~ContextExitHook() {
        delete t_context.text;
        t_context.text = nullptr;
        t_context.state = ContextSlot::kDestroyed;
    }
};

ContextSlot& context_slot() {
    ContextSlot& slot = t_context;
    if (slot.state == ContextSlot::kDestroyed)
        panic("cannot access a Thread Local Storage value during or after destruction");
    if (slot.state == ContextSlot::kNotCreated) {
        thread_local ContextExitHook hook;
        (void)hook;
        slot.state = ContextSlot::kAlive;
    }
    return slot;
}

uint64_t now_us() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    if (ts.tv_sec < 0) panic("Time went backwards");
    return static_cast<uint64_t>(ts.tv_sec) * 1'000'000 + static_cast<uint64_t>(ts.tv_nsec) / 1000;
}

}  // namespace

ProfilerState& profiler_state() {
    // Never destroyed: scopes may still finish on other threads while the process exits.
    static ProfilerState* state = new ProfilerState();
    return *state;
}

ProfileScope::ProfileScope(ProfileScope&& o) noexcept
    : operation_(o.operation_),
      backend_(o.backend_),
      context_(std::move(o.context_)),
      enabled_(o.enabled_),
      records_(o.records_),
      elements_(o.elements_),
      start_us_(o.start_us_),
      open_(std::exchange(o.open_, false)) {}

ProfileScope::~ProfileScope() {
    if (!open_) return;
    try {
        profile_scope_finish(std::move(*this));
    } catch (...) {
        // Unwinding already: a record that cannot be made is dropped.
    }
}

ProfileScope profile_scope_begin(std::string_view operation, std::string_view backend,
                                 uint64_t elements) {
    ProfilerState& state = profiler_state();
    ProfileScope s;
    if (const std::string* text = context_slot().text) s.context_ = *text;
    s.start_us_ = now_us();
    s.operation_ = operation;
    s.backend_ = backend;
    s.enabled_ = &state.enabled;
    s.records_ = &state.records;
    s.elements_ = elements;
    s.open_ = true;
    return s;
}

void profile_scope_finish(ProfileScope&& scope) {
    if (!std::exchange(scope.open_, false)) return;
    // The flag is read before the clock so that a disabled profiler costs one clock read less;
    // both happen as the scope finishes.
    bool enabled;
    {
        std::shared_lock lock(scope.enabled_->lock);
        enabled = scope.enabled_->value;
    }
    if (!enabled) return;
    const uint64_t end_us = now_us();
    ProfileRecord record{std::string(scope.operation_), std::string(scope.backend_),
                         std::move(scope.context_), scope.elements_, scope.start_us_, end_us};
    std::unique_lock lock(scope.records_->lock);
    scope.records_->list.push_back(std::move(record));
}

void enable_profiling() {
    ProfilerState::Flag& f = profiler_state().enabled;
    std::unique_lock lock(f.lock);
    f.value = true;
}

void disable_profiling() {
    ProfilerState::Flag& f = profiler_state().enabled;
    std::unique_lock lock(f.lock);
    f.value = false;
}

void clear_profile() {
    ProfilerState::Records& r = profiler_state().records;
    std::unique_lock lock(r.lock);
    r.list.clear();
}

void set_profile_context(std::optional<std::string> context) {
    profiler_state();
    std::string* fresh = context ? new std::string(std::move(*context)) : nullptr;
    delete std::exchange(context_slot().text, fresh);
}

}  // namespace tessra
