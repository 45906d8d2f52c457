#include "dataframe/rebuild.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "dataframe/missing.hpp"
#include "scheduler/pool.hpp"

namespace tessra {

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
    r.owned = std::move(positions);
    r.bound = bound;
    r.missing = missing;
    return r;
}

Rows Rows::list(std::shared_ptr<const AlignedBuffer> positions, uint64_t bound) {
    Rows r;
    r.listed = true;
    r.shared = std::move(positions);
    r.bound = bound;
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

Status check_frame_rebuild(const DataFrame& df, uint64_t k, uint64_t bound) {
    for (const auto& [key, series] : df.columns)
        if (Status s = check_rebuild(key, series, k, bound); !s) return s;
    return ok_status();
}

namespace {

// Rows per piece of the pool's work: a gathered row costs ~1-10 ns, a copied one far less.
constexpr uint64_t kGatherPiece = uint64_t{1} << 15;

// Derived columns are made again with every call, so they take reused pages.
CoreArray float_column(uint64_t k) {
    return from_buffer({k}, AlignedBuffer::reused(k * sizeof(float)), k).value();
}

// Values at listed positions, kMissing giving the missing value; the check stays out of the
// loops that never meet it.
template <class T>
void gather_listed(float* dst, const T* s, const uint64_t* p, uint64_t k, bool missing) {
    const float nan = missing_value();
    pool::parallel_for(k, kGatherPiece, [&](size_t b, size_t e) {
        if (missing)
            for (size_t i = b; i < e; ++i)
                dst[i] = p[i] == Rows::kMissing ? nan : static_cast<float>(s[p[i]]);
        else
            for (size_t i = b; i < e; ++i) dst[i] = static_cast<float>(s[p[i]]);
    });
}

// The rebuilt values of a Float32 or Int32 source that holds every row asked for.
void fill_values(const CoreArray& src, const Rows& rows, float* dst) {
    const uint64_t k = rows.size();
    if (rows.listed) {
        if (src.dtype == DType::Float32)
            gather_listed(dst, src.f32(), rows.list().data(), k, rows.missing);
        else
            gather_listed(dst, src.data.as<int32_t>(), rows.list().data(), k, rows.missing);
    } else if (src.dtype == DType::Float32) {
        const float* s = src.f32() + rows.begin;
        pool::parallel_for(k, kGatherPiece, [&](size_t b, size_t e) {
            std::memcpy(dst + b, s + b, (e - b) * sizeof(float));
        });
    } else {
        const int32_t* s = src.data.as<int32_t>() + rows.begin;
        pool::parallel_for(k, kGatherPiece, [&](size_t b, size_t e) {
            for (size_t i = b; i < e; ++i) dst[i] = static_cast<float>(s[i]);
        });
    }
}

// The rebuilt values of a source that passed check_values.
CoreArray rebuilt_values(const CoreArray& src, const Rows& rows) {
    if (!is_table_numeric(src.dtype)) return uninit({0});  // then there are no rows
    CoreArray out = float_column(rows.size());
    fill_values(src, rows, out.f32());
    return out;
}

}  // namespace

Result<CoreArray> gather_values(const std::string& key, const CoreArray& src, const Rows& rows) {
    if (Status s = check_values(key, src, rows.size(), rows.bound); !s) return s.error();
    return rebuilt_values(src, rows);
}

// ---- whole frames -------------------------------------------------------------------------
//
// Columns are rebuilt one after another, each on all threads: the random reads of a gather
// then stay within one source column, which the caches hold. Reading every column for a block
// of rows at a time spreads them over all the columns, and measured twice as slow (1M rows,
// five Float32 columns). Lists of number labels with one source are made once and shared.

namespace {

// The rebuilt labels of every column.
std::vector<Labels> rebuilt_labels(const DataFrame& df, const Rows& rows) {
    std::vector<Labels> out;
    std::vector<std::pair<Labels::Source, size_t>> made;  // source -> its first column in `out`
    for (const auto& entry : df.columns) {
        const Labels& index = entry.series.index;
        const std::optional<Labels::Source> src = index.source();
        auto same = std::find_if(made.begin(), made.end(), [&](const auto& m) { return src && m.first == *src; });
        if (rows.size() == 0) {
            out.emplace_back();
        } else if (same != made.end()) {
            out.push_back(out[same->second]);
        } else {
            if (src) made.emplace_back(*src, out.size());
            if (rows.shared && src == Labels::Source{0, nullptr})
                out.push_back(Labels::numbers(rows.shared));  // the positions are the labels
            else
                out.push_back(rows.listed ? index.gather(rows.list()) : index.slice(rows.begin, rows.end));
        }
    }
    return out;
}

}  // namespace

Result<DataFrame> rebuild_frame(const DataFrame& df, const Rows& rows) {
    const uint64_t k = rows.size();
    if (Status s = check_frame_rebuild(df, k, rows.bound); !s) return s.error();
    std::vector<Labels> labels = rebuilt_labels(df, rows);
    DataFrame out;
    out.row_count = k;
    out.columns.reserve(df.columns.size());
    size_t c = 0;
    for (const auto& [key, series] : df.columns)
        out.columns.insert_or_assign(key, Series{series.name, rebuilt_values(series.data, rows), std::move(labels[c++])});
    return out;
}

}  // namespace tessra
