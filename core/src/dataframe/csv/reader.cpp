#include "dataframe/csv/reader.hpp"

#include <algorithm>
#include <cstring>

#include "dataframe/csv/parse.hpp"
#include "scheduler/pool.hpp"

namespace tessra {

namespace {

// Floats from which parsed CSV columns are put together in parallel, and floats per piece.
constexpr size_t kCsvCopyMin = size_t{1} << 18;
constexpr size_t kCsvCopyChunk = size_t{1} << 15;

// Copies every piece of every column into place: column(i) gives column i's destination of
// `rows` floats. The copies are independent, so they run (and fault their pages in) in
// parallel.
template <class Column>
void gather(const csv::ParsedCsv& parsed, Column&& column) {
    const size_t n = parsed.headers.size();
    const size_t count = parsed.pieces.size();
    if (count == 0) return;  // no records
    std::vector<uint64_t> first(count);
    for (size_t k = 1; k < count; ++k) first[k] = first[k - 1] + parsed.pieces[k - 1].rows;
    auto copy = [&](size_t begin, size_t end) {
        for (size_t t = begin; t < end; ++t) {
            size_t i = t / count, k = t % count;
            const csv::ColumnPiece& piece = parsed.pieces[k];
            std::memcpy(column(i) + first[k], piece.data + i * piece.stride,
                        piece.rows * sizeof(float));
        }
    };
    uint64_t rows_per_piece = std::max<uint64_t>(1, parsed.rows / count);
    size_t grain = parsed.rows * n < kCsvCopyMin
                       ? n * count
                       : static_cast<size_t>(std::max<uint64_t>(1, kCsvCopyChunk / rows_per_piece));
    pool::parallel_for(n * count, grain, copy);
}

}  // namespace

Result<CsvColumns> read_csv_columns(const std::string& path) {
    auto parsed = csv::parse_csv_file(path);
    if (!parsed) return parsed.error();
    csv::ParsedCsv& p = parsed.value();
    CsvColumns out;
    out.rows = p.rows;
    out.columns.reserve(p.headers.size());
    for (size_t i = 0; i < p.headers.size(); ++i) out.columns.emplace_back(p.rows);
    gather(p, [&](size_t i) { return out.columns[i].data(); });
    out.headers = std::move(p.headers);
    return out;
}

}  // namespace tessra
