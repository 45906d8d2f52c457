#pragma once
// The comma-separated reader behind read_csv: header record, Float32 columns.
#include <cstdint>
#include <string>
#include <vector>

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

}  // namespace tessra
