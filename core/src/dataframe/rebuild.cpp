#include "dataframe/rebuild.hpp"

#include <algorithm>
#include <cstring>

#include "scheduler/pool.hpp"

namespace tessra {

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
    pool::parallel_for(k, std::max<size_t>(pool::kRowChunk / std::max<size_t>(srcs.size(), 1), 4096), block);
}

namespace {

// The array a column's rebuilt values go to, or the column's error: a Float32 or Int32 source
// too short for rows.bound, or a source of another type when rows are wanted (it gives no
// values, so from_vec's length error).
Result<CoreArray> values_for(const std::string& key, const CoreArray& src, const Rows& rows) {
    const uint64_t k = rows.size();
    if (!is_table_numeric(src.dtype)) return from_vec({k}, {});
    if (src.element_count() < rows.bound)
        return short_column(key, src.element_count(), rows.bound, "values");
    return uninit({k});
}

Labels gather_labels(const Labels& src, const Rows& rows) {
    return rows.size() == 0 ? Labels()
           : rows.listed    ? src.gather(rows.positions)
                            : src.slice(rows.begin, rows.end);
}

}  // namespace

Result<CoreArray> gather_values(const std::string& key, const CoreArray& src, const Rows& rows) {
    Result<CoreArray> out = values_for(key, src, rows);
    if (out && is_table_numeric(src.dtype)) {
        const CoreArray* s = &src;
        float* d = out.value().f32();
        gather_columns({&s, 1}, {&d, 1}, rows);
    }
    return out;
}

Result<DataFrame> rebuild_frame(const DataFrame& df, const Rows& rows) {
    DataFrame out;
    out.row_count = rows.size();
    out.columns.reserve(df.columns.size());
    std::vector<const CoreArray*> srcs;
    std::vector<float*> dsts;
    std::vector<std::pair<const Labels*, const Labels*>> made;  // source -> rebuilt
    for (const auto& [key, series] : df.columns) {
        Result<CoreArray> values = values_for(key, series.data, rows);
        if (!values) return values.error();
        if (series.index.size() < rows.bound)
            return short_column(key, series.index.size(), rows.bound, "labels");
        const Labels* same = nullptr;
        for (const auto& [from, to] : made)
            if (from->same_as(series.index)) same = to;
        Labels labels = same ? *same : gather_labels(series.index, rows);
        out.columns.insert_or_assign(key, Series{series.name, std::move(values).value(), std::move(labels)});
        Series* put = out.columns.find(key);  // the map was reserved: entries stay put
        if (is_table_numeric(series.data.dtype)) {
            srcs.push_back(&series.data);
            dsts.push_back(put->data.f32());
        }
        if (!same) made.emplace_back(&series.index, &put->index);
    }
    if (!srcs.empty()) gather_columns(srcs, dsts, rows);
    return out;
}

}  // namespace tessra
