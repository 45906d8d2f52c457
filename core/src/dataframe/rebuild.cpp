#include "dataframe/rebuild.hpp"

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

Result<CoreArray> gather_values(const std::string& key, const CoreArray& src, const Rows& rows) {
    const uint64_t k = rows.size();
    if (!is_table_numeric(src.dtype)) return from_vec({k}, {});
    if (src.element_count() < rows.bound)
        return short_column(key, src.element_count(), rows.bound, "values");
    CoreArray out = uninit({k});
    float* dst = out.f32();
    if (src.dtype == DType::Float32) {
        const float* s = src.f32();
        if (!rows.listed) {
            pool::parallel_for(k, pool::kCopyChunk, [&](size_t b, size_t e) {
                std::memcpy(dst + b, s + rows.begin + b, (e - b) * sizeof(float));
            });
        } else {
            const uint64_t* p = rows.positions.data();
            pool::parallel_for(k, pool::kRowChunk, [&](size_t b, size_t e) {
                for (size_t i = b; i < e; ++i) dst[i] = s[p[i]];
            });
        }
    } else {
        const int32_t* s = src.data.as<int32_t>();
        const uint64_t* p = rows.positions.data();
        const bool listed = rows.listed;
        const uint64_t begin = rows.begin;
        pool::parallel_for(k, pool::kRowChunk, [&](size_t b, size_t e) {
            for (size_t i = b; i < e; ++i)
                dst[i] = static_cast<float>(s[listed ? p[i] : begin + i]);
        });
    }
    return out;
}

Result<Series> rebuild_column(const std::string& key, const Series& src, const Rows& rows) {
    Result<CoreArray> values = gather_values(key, src.data, rows);
    if (!values) return values.error();
    if (src.index.size() < rows.bound) return short_column(key, src.index.size(), rows.bound, "labels");
    Labels labels = rows.size() == 0 ? Labels()
                    : rows.listed    ? src.index.gather(rows.positions)
                                     : src.index.slice(rows.begin, rows.end);
    return Series{src.name, std::move(values).value(), std::move(labels)};
}

}  // namespace tessra
