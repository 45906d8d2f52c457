#include "ops/elementwise_runner.hpp"

#include <string>

#include "util/shape_text.hpp"

namespace tessra::ew {

Error f32_only(std::string_view word) {
    return type_error(std::string(word) + " currently only supports Float32");
}

Error shape_mismatch(std::string_view word, const Shape& a, const Shape& b) {
    return value_error("Shape mismatch for " + std::string(word) + ": " + shape_text(a) + " vs " +
                       shape_text(b));
}

}  // namespace tessra::ew
