#include "ops/elementwise_runner.hpp"

#include <string>

#include "util/shape_text.hpp"

namespace tessra::ew {

namespace detail {

size_t piece_blocks(size_t blocks, size_t serial_below) {
    // Many pieces per thread let work stealing even out a thread that was held up (shared
    // cores, page faults); no piece is so short that handing it over costs more than running it.
    const size_t pieces = pool::thread_count() * 16;
    const size_t min_blocks = serial_below / 4 / kBlock;
    const size_t even = (blocks + pieces - 1) / pieces;
    return even > min_blocks ? even : min_blocks;
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
