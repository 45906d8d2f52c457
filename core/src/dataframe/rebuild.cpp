#include "dataframe/rebuild.hpp"

#include <cstring>

#include "dataframe/missing.hpp"
#include "scheduler/pool.hpp"

namespace tessra {

namespace {

// Values at listed positions, kMissing giving the missing value; the check stays out of the
// loops that never meet it.
template <class T>
void gather_listed(float* dst, const T* s, const Rows& rows) {
    const uint64_t* p = rows.positions.data();
    const float nan = missing_value();
    pool::parallel_for(rows.size(), pool::kRowChunk, [&](size_t b, size_t e) {
        if (rows.missing)
            for (size_t i = b; i < e; ++i)
                dst[i] = p[i] == Rows::kMissing ? nan : static_cast<float>(s[p[i]]);
        else
            for (size_t i = b; i < e; ++i) dst[i] = static_cast<float>(s[p[i]]);
    });
}
}  // namespace

Rows Rows::range(uint64_t begin, uint64_t end) {
    Rows r;
    r.begin = begin;
    r.end = end;
    r.bound = end > begin ? end : 0;
    return r;
}

Rows Rows::list(std::vector<uint64_t> positions, uint64_t bound, bool missing) {
    Rows r;
    r.listed = true;
    r.positions = std::move(positions);
    r.bound = bound;
    r.missing = missing;
    return r;
}

Error short_column(const std::string& key, uint64_t have, uint64_t rows, const char* what) {
    return value_error("Column " + key + " has " + std::to_string(have) + " " + what + " for " +
                       std::to_string(rows) + " rows");
}

Status check_values(const std::string& key, const CoreArray& src, uint64_t k, uint64_t bound) {
    if (!is_table_numeric(src.dtype)) {
        // Such a column gives no values: from_vec's length error whenever rows are wanted.
        Result<CoreArray> none = from_vec({k}, {});
        if (!none) return none.error();
    } else if (src.element_count() < bound) {
        return short_column(key, src.element_count(), bound, "values");
    }
    return ok_status();
}

Status check_rebuild(const std::string& key, const Series& src, uint64_t k, uint64_t bound) {
    if (Status s = check_values(key, src.data, k, bound); !s) return s;
    if (src.index.size() < bound) return short_column(key, src.index.size(), bound, "labels");
    return ok_status();
}

namespace {

// Values of a source that passed check_rebuild.
CoreArray gather_checked(const CoreArray& src, const Rows& rows) {
    const uint64_t k = rows.size();
    if (!is_table_numeric(src.dtype)) return uninit({0});
    CoreArray out = uninit({k});
    float* dst = out.f32();
    if (src.dtype == DType::Float32) {
        const float* s = src.f32();
        if (!rows.listed) {
            pool::parallel_for(k, pool::kCopyChunk, [&](size_t b, size_t e) {
                std::memcpy(dst + b, s + rows.begin + b, (e - b) * sizeof(float));
            });
        } else {
            gather_listed(dst, s, rows);
        }
    } else {
        const int32_t* s = src.data.as<int32_t>();
        if (!rows.listed) {
            const uint64_t begin = rows.begin;
            pool::parallel_for(k, pool::kRowChunk, [&](size_t b, size_t e) {
                for (size_t i = b; i < e; ++i) dst[i] = static_cast<float>(s[begin + i]);
            });
        } else {
            gather_listed(dst, s, rows);
        }
    }
    return out;
}

}  // namespace

Result<CoreArray> gather_values(const std::string& key, const CoreArray& src, const Rows& rows) {
    if (Status s = check_values(key, src, rows.size(), rows.bound); !s) return s.error();
    return gather_checked(src, rows);
}

Result<Series> rebuild_column(const std::string& key, const Series& src, const Rows& rows) {
    if (Status s = check_rebuild(key, src, rows.size(), rows.bound); !s) return s.error();
    CoreArray values = gather_checked(src.data, rows);
    Labels labels = rows.size() == 0 ? Labels()
                    : rows.listed    ? src.index.gather(rows.positions)
                                     : src.index.slice(rows.begin, rows.end);
    return Series{src.name, std::move(values), std::move(labels)};
}

}  // namespace tessra
