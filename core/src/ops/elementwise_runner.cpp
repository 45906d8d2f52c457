#include "ops/elementwise_runner.hpp"

#include <string>

#include "util/shape_text.hpp"

namespace tessra::ew {

namespace detail {

bool cpu_has_avx2() {
#if defined(__x86_64__)
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return has;
#else
    return false;
#endif
}

}  // namespace detail

Error f32_only(std::string_view word) {
    return type_error(std::string(word) + " currently only supports Float32");
}

Error shape_mismatch(std::string_view word, const Shape& a, const Shape& b) {
    return value_error("Shape mismatch for " + std::string(word) + ": " + shape_text(a) + " vs " +
                       shape_text(b));
}

}  // namespace tessra::ew
