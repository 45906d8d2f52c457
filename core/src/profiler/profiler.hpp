#pragma once
// Timing of the raw-address and Metal module functions. A timed function opens a scope before
// its work and finishes it once afterwards, also when the work failed:
//
//     ProfileScope scope = profile_scope_begin("add", "CPU", count);
//     ...work...
//     profile_scope_finish(std::move(scope));
//
// A scope that is destroyed unfinished (an exception left the work) finishes itself. Whether a
// call is recorded depends only on the enabled flag when its scope finishes.
#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "util/error.hpp"

namespace tessra {

struct ProfileRecord {
    std::string operation;
    std::string backend;
    std::optional<std::string> context;
    uint64_t elements = 0;
    uint64_t start_us = 0;  // wall clock, microseconds since the Unix epoch
    uint64_t end_us = 0;
};

// Made on first use and never destroyed. The two locks are never held together.
struct ProfilerState {
    struct Flag {
        std::shared_mutex lock;
        bool value = false;
    };
    struct Records {
        std::shared_mutex lock;
        std::vector<ProfileRecord> list;
    };
    Flag enabled;
    Records records;
};

ProfilerState& profiler_state();

// Owned by the timed function's frame. `operation` and `backend` are viewed, not copied, until
// the scope finishes, so they must outlive it (literals, or strings of the caller's frame); the
// state is immortal, so plain pointers keep it.
class ProfileScope {
public:
    ProfileScope(ProfileScope&& other) noexcept;
    ProfileScope(const ProfileScope&) = delete;
    ProfileScope& operator=(const ProfileScope&) = delete;
    ProfileScope& operator=(ProfileScope&&) = delete;
    ~ProfileScope();

private:
    ProfileScope() = default;
    friend ProfileScope profile_scope_begin(std::string_view, std::string_view, uint64_t);
    friend void profile_scope_finish(ProfileScope&&);

    std::string_view operation_;
    std::string_view backend_;
    std::optional<std::string> context_;
    ProfilerState::Flag* enabled_ = nullptr;
    ProfilerState::Records* records_ = nullptr;
    uint64_t elements_ = 0;
    uint64_t start_us_ = 0;
    bool open_ = false;
};

// Reads the clock and the calling thread's context; takes no lock.
ProfileScope profile_scope_begin(std::string_view operation, std::string_view backend,
                                 uint64_t elements);
// Appends a record when profiling is enabled now.
void profile_scope_finish(ProfileScope&& scope);

void enable_profiling();
void disable_profiling();
void clear_profile();
// Replaces the calling thread's context (nullopt clears it).
void set_profile_context(std::optional<std::string> context);

// The JSON report over the stored records (only those carrying `context` when given).
Result<std::string> profile_report(const std::optional<std::string>& context);

}  // namespace tessra
