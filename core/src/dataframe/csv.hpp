#pragma once
// The comma-separated reader behind read_csv: header record, Float32 columns.
#include <cstdint>
#include <string>
#include <vector>

#include "array/aligned_buffer.hpp"
#include "util/error.hpp"

namespace tessra {

struct CsvColumns {
    std::vector<std::string> headers;          // header fields, in file order
    std::vector<std::vector<float>> columns;   // one list per header field, `rows` values each
    uint64_t rows = 0;
};

// Reads the file at `path`. Errors: IO "Failed to open file: {}", Value "Failed to read
// headers: {}" and "Failed to read record: {}". Cells that do not read as numbers are NaN.
Result<CsvColumns> read_csv_columns(const std::string& path);

struct CsvBuffers {
    std::vector<std::string> headers;   // header fields, in file order
    std::vector<AlignedBuffer> columns; // one per header field, exactly `rows` floats each
    uint64_t rows = 0;
};

// As read_csv_columns, with each column already in the aligned storage of an array: pass it
// to from_buffer, which takes it without copying the values.
Result<CsvBuffers> read_csv_buffers(const std::string& path);

}  // namespace tessra
