#pragma once
// Shared steps of the functions that work on caller-owned memory given as integer addresses:
// the zero-address and size tests and the profiler scope around the work.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "profiler/profiler.hpp"
#include "util/error.hpp"
#include "util/saturating.hpp"

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

// ValueError "{what} is too large: its byte count does not fit in 64 bits" when the product of
// the factors (element counts or sizes, then the element's bytes) does not. No caller can own
// such a buffer, and a wrapped count would read past the one it does own.
inline Status check_bytes(std::string_view what, std::initializer_list<uint64_t> factors) {
    // Saturation shows as the largest value, which no byte count of 4-byte elements is.
    if (saturating_mul(factors) != UINT64_MAX) return ok_status();
    return value_error(std::string(what) + " is too large: its byte count does not fit in 64 bits");
}

// The same for the three row-major f32 matrices of a product, `c` naming the output.
inline Status check_product_bytes(std::string_view c, uint64_t m, uint64_t k, uint64_t n) {
    if (Status s = check_bytes("a (m x k)", {m, k, 4}); !s) return s;
    if (Status s = check_bytes("b (k x n)", {k, n, 4}); !s) return s;
    return check_bytes(std::string(c) + " (m x n)", {m, n, 4});
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
