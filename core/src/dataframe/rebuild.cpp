#include "dataframe/rebuild.hpp"

#include <algorithm>
#include <cstring>

#include "scheduler/pool.hpp"

namespace tessra {

namespace {
constexpr size_t kGrain = size_t{1} << 16;
}

Rows Rows::range(uint64_t begin, uint64_t end) {
    Rows r;
    r.begin = begin;
    r.end = end;
    r.bound = end > begin ? end : 0;
    return r;
}

Rows Rows::list(std::vector<uint64_t> positions, uint64_t bound) {
    Rows r;
    r.listed = true;
    r.positions = std::move(positions);
    r.bound = bound;
    return r;
}

Error short_column(const std::string& key, uint64_t have, uint64_t rows, const char* what) {
    return value_error("Column " + key + " has " + std::to_string(have) + " " + what + " for " +
                       std::to_string(rows) + " rows");
}

void gather_columns(std::span<const CoreArray* const> srcs, std::span<float* const> dsts,
                    const Rows& rows) {
    const uint64_t k = rows.size();
    const uint64_t* p = rows.positions.data();
    // One pass over the rows for every column: each block of positions is read once, and
    // the columns of a narrow frame still spread over all threads.
    auto block = [&](size_t b, size_t e) {
        for (size_t c = 0; c < srcs.size(); ++c) {
            float* dst = dsts[c];
            if (srcs[c]->dtype == DType::Float32) {
                const float* s = srcs[c]->f32();
                if (!rows.listed)
                    std::memcpy(dst + b, s + rows.begin + b, (e - b) * sizeof(float));
                else
                    for (size_t i = b; i < e; ++i) dst[i] = s[p[i]];
            } else {
                const int32_t* s = srcs[c]->data.as<int32_t>();
                if (!rows.listed)
                    for (size_t i = b; i < e; ++i) dst[i] = static_cast<float>(s[rows.begin + i]);
                else
                    for (size_t i = b; i < e; ++i) dst[i] = static_cast<float>(s[p[i]]);
            }
        }
    };
    pool::parallel_for(k, std::max<size_t>(kGrain / std::max<size_t>(srcs.size(), 1), 4096), block);
}

Result<CoreArray> gather_values(const std::string& key, const CoreArray& src, const Rows& rows) {
    const uint64_t k = rows.size();
    if (!is_table_numeric(src.dtype)) return from_vec({k}, {});
    if (src.element_count() < rows.bound)
        return short_column(key, src.element_count(), rows.bound, "values");
    CoreArray out = uninit({k});
    const CoreArray* s = &src;
    float* d = out.f32();
    gather_columns({&s, 1}, {&d, 1}, rows);
    return out;
}

Labels gather_labels(const Labels& src, const Rows& rows) {
    return rows.size() == 0 ? Labels()
           : rows.listed    ? src.gather(rows.positions)
                            : src.slice(rows.begin, rows.end);
}

Result<Series> rebuild_column(const std::string& key, const Series& src, const Rows& rows) {
    Result<CoreArray> values = gather_values(key, src.data, rows);
    if (!values) return values.error();
    if (src.index.size() < rows.bound) return short_column(key, src.index.size(), rows.bound, "labels");
    return Series{src.name, std::move(values).value(), gather_labels(src.index, rows)};
}

}  // namespace tessra
