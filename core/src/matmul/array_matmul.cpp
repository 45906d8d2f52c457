#include "matmul/array_matmul.hpp"

#include <string>

#include "backend/policy.hpp"
#include "backend/select.hpp"

namespace tessra {

Result<CoreArray> matmul(const CoreArray& a, const CoreArray& b) {
    if (!a.is_f32() || !b.is_f32()) return type_error("matmul() currently only supports Float32");
    if (a.ndim() != 2 || b.ndim() != 2)
        return value_error("matmul() currently only supports 2D arrays");
    const uint64_t m = a.shape[0], k = a.shape[1], k2 = b.shape[0], n = b.shape[1];
    if (k != k2)
        return value_error("matmul() shape mismatch: inner dimensions " + std::to_string(k) +
                           " and " + std::to_string(k2) + " must match");
    // Even two empty operands can ask for a result too large to exist: [2^63, 0] @ [0, 2^63]
    // is [2^63, 2^63], whose byte count does not fit in 64 bits, and is refused here.
    // Every road writes all of c (beta 0), so only an empty product needs the zero fill.
    const bool empty = m == 0 || k == 0 || n == 0;
    Result<CoreArray> made = empty ? zeroed({m, n}) : allocate({m, n});
    if (!made) return made;
    CoreArray& c = made.value();
    if (empty) {
        backend::record_small_product();
        return made;
    }
    if (auto failure = backend::dispatch_matmul(a.f32(), b.f32(), c.f32(), m, k, n))
        return runtime_error(*failure);
    return made;
}

}  // namespace tessra
