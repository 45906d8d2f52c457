#pragma once
// A CSV file parsed into pieces of Float32 columns, before they are put together.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "array/aligned_buffer.hpp"
#include "util/error.hpp"

namespace tessra::csv {

// Consecutive rows of every column: column i's values are data[i * stride + r], r < rows.
struct ColumnPiece {
    const float* data;
    size_t stride;
    uint64_t rows;
};

struct ParsedCsv {
    std::vector<std::string> headers;
    std::vector<ColumnPiece> pieces;  // in file order
    uint64_t rows = 0;
    std::vector<AlignedBuffer> storage;  // what the pieces point into
};

// Reads and parses the file at `path`, with the error texts of read_csv_columns.
Result<ParsedCsv> parse_csv_file(const std::string& path);

}  // namespace tessra::csv
