#pragma once
// The comma-separated reader behind read_csv: header record, Float32 columns.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "array/aligned_buffer.hpp"
#include "util/error.hpp"

namespace tessra {

// The values of one column, in the aligned storage an array takes over without a copy.
class CsvColumn {
public:
    explicit CsvColumn(uint64_t rows)
        : values_(AlignedBuffer::uninit(rows * sizeof(float))), rows_(rows) {}
    size_t size() const { return rows_; }
    float* data() { return values_.as<float>(); }
    float operator[](size_t i) const { return values_.as<float>()[i]; }
    float at(size_t i) const {
        if (i >= rows_) throw std::out_of_range("CsvColumn::at");
        return (*this)[i];
    }
    AlignedBuffer take() && { return std::move(values_); }

private:
    AlignedBuffer values_;
    uint64_t rows_;
};

struct CsvColumns {
    std::vector<std::string> headers;  // header fields, in file order
    std::vector<CsvColumn> columns;    // one per header field, `rows` values each
    uint64_t rows = 0;
};

// Reads the file at `path`. Errors: IO "Failed to open file: {}", Value "Failed to read
// headers: {}" and "Failed to read record: {}". Cells that do not read as numbers are NaN.
Result<CsvColumns> read_csv_columns(const std::string& path);

}  // namespace tessra
