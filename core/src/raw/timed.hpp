#pragma once
// Shared steps of the functions that work on caller-owned memory given as integer addresses:
// the zero-address test and the profiler scope around the work.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "profiler/profiler.hpp"
#include "util/error.hpp"

namespace tessra::raw {

template <class T>
const T* at(uint64_t address) {
    return reinterpret_cast<const T*>(static_cast<uintptr_t>(address));
}
template <class T>
T* at_mut(uint64_t address) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

// ValueError "Null pointer passed to {fn}" when any address is zero.
inline Status check_addresses(std::string_view fn, std::initializer_list<uint64_t> addresses) {
    for (uint64_t a : addresses)
        if (a == 0) return value_error("Null pointer passed to " + std::string(fn));
    return ok_status();
}

// Runs work() inside a profiler scope; the scope is finished before the result (or the error
// the work returned) goes back, so failed calls are recorded too.
template <class Work>
auto timed(std::string_view operation, std::string_view backend, uint64_t elements, Work&& work) {
    ProfileScope scope = profile_scope_begin(operation, backend, elements);
    auto result = work();
    profile_scope_finish(std::move(scope));
    return result;
}

}  // namespace tessra::raw
