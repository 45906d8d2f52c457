#include "dataframe/rebuild.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

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

// Derived columns are made again with every call, so they take reused pages.
CoreArray float_column(uint64_t k) {
    return from_buffer({k}, AlignedBuffer::reused(k * sizeof(float)), k).value();
}

// Values at listed positions, kMissing giving the quiet NaN; the check stays out of the
// loops that never meet it.
template <class T>
void gather_listed(float* dst, const T* s, const uint64_t* p, uint64_t k, bool missing) {
    const float nan = std::bit_cast<float>(0x7FC00000u);
    pool::parallel_for(k, pool::kRowChunk, [&](size_t b, size_t e) {
        if (missing)
            for (size_t i = b; i < e; ++i)
                dst[i] = p[i] == Rows::kMissing ? nan : static_cast<float>(s[p[i]]);
        else
            for (size_t i = b; i < e; ++i) dst[i] = static_cast<float>(s[p[i]]);
    });
}

}  // namespace

Result<CoreArray> gather_values(const std::string& key, const CoreArray& src, const Rows& rows) {
    const uint64_t k = rows.size();
    if (Status s = check_values(key, src, k, rows.bound); !s) return s.error();
    if (!is_table_numeric(src.dtype)) return uninit({0});
    CoreArray out = float_column(k);
    float* dst = out.f32();
    if (rows.listed) {
        if (src.dtype == DType::Float32)
            gather_listed(dst, src.f32(), rows.list().data(), k, rows.missing);
        else
            gather_listed(dst, src.data.as<int32_t>(), rows.list().data(), k, rows.missing);
    } else if (src.dtype == DType::Float32) {
        const float* s = src.f32() + rows.begin;
        pool::parallel_for(k, pool::kCopyChunk, [&](size_t b, size_t e) {
            std::memcpy(dst + b, s + b, (e - b) * sizeof(float));
        });
    } else {
        const int32_t* s = src.data.as<int32_t>() + rows.begin;
        pool::parallel_for(k, pool::kRowChunk, [&](size_t b, size_t e) {
            for (size_t i = b; i < e; ++i) dst[i] = static_cast<float>(s[i]);
        });
    }
    return out;
}

// ---- whole frames -------------------------------------------------------------------------
//
// All columns are rebuilt in one pass over the rows: block by block, every column (and every
// list of number labels) reads the block's positions while they are in the first-level cache,
// where a pass per column would read each position once per column.

namespace {

// Rows per block, and per piece of the pool's work (a row costs a few ns per column).
constexpr uint64_t kBlock = 2048;
constexpr uint64_t kFramePiece = uint64_t{1} << 15;

struct ValueJob {
    const std::byte* src;
    bool ints;  // Int32 source, else Float32
    float* dst;
};

// Label i of the output is src.numbers[p] or src.start + p, p the i-th source position.
struct LabelJob {
    Labels::Source src;
    uint64_t* dst;
};

template <class T>
void gather_block(const T* s, const uint64_t* p, float* dst, uint64_t m) {
    for (uint64_t i = 0; i < m; ++i) dst[i] = static_cast<float>(s[p[i]]);
}

// Rows [lo, lo + m) of the output, read at p[0 .. m) or, with p null, from `first` on.
void rebuild_block(const ValueJob& job, const uint64_t* p, uint64_t first, uint64_t lo, uint64_t m) {
    float* dst = job.dst + lo;
    if (job.ints) {
        const auto* s = reinterpret_cast<const int32_t*>(job.src);
        if (p)
            gather_block(s, p, dst, m);
        else
            for (uint64_t i = 0; i < m; ++i) dst[i] = static_cast<float>(s[first + i]);
    } else {
        const auto* s = reinterpret_cast<const float*>(job.src);
        if (p)
            gather_block(s, p, dst, m);
        else
            std::memcpy(dst, s + first, m * sizeof(float));
    }
}

void rebuild_block(const LabelJob& job, const uint64_t* p, uint64_t first, uint64_t lo, uint64_t m) {
    uint64_t* dst = job.dst + lo;
    const uint64_t* numbers = job.src.numbers;
    if (!p)  // a range of rows takes a piece of a number list
        std::memcpy(dst, numbers + first, m * sizeof(uint64_t));
    else if (numbers)
        for (uint64_t i = 0; i < m; ++i) dst[i] = numbers[p[i]];
    else
        for (uint64_t i = 0; i < m; ++i) dst[i] = job.src.start + p[i];
}

void run_pass(const Rows& rows, const std::vector<ValueJob>& values, const std::vector<LabelJob>& labels) {
    const uint64_t* at = rows.listed ? rows.list().data() : nullptr;
    pool::parallel_for(rows.size(), kFramePiece, [&](size_t b, size_t e) {
        for (uint64_t lo = b; lo < e; lo += kBlock) {
            const uint64_t m = std::min<uint64_t>(kBlock, e - lo);
            const uint64_t* p = at ? at + lo : nullptr;
            for (const ValueJob& job : values) rebuild_block(job, p, rows.begin + lo, lo, m);
            for (const LabelJob& job : labels) rebuild_block(job, p, rows.begin + lo, lo, m);
        }
    });
}

// The rebuilt labels of every column; lists of number labels with one source are made once
// and shared. Lists the pass has to fill are added to `jobs`.
std::vector<Labels> rebuilt_labels(const DataFrame& df, const Rows& rows, std::vector<LabelJob>& jobs) {
    const uint64_t k = rows.size();
    std::vector<Labels> out;
    std::vector<std::pair<Labels::Source, size_t>> made;  // source -> its first column in `out`
    for (const auto& entry : df.columns) {
        const Labels& index = entry.series.index;
        const std::optional<Labels::Source> src = k == 0 ? std::nullopt : index.source();
        if (k == 0) {
            out.emplace_back();
        } else if (!src) {
            out.push_back(rows.listed ? index.gather(rows.list()) : index.slice(rows.begin, rows.end));
        } else if (auto same = std::find_if(made.begin(), made.end(), [&](const auto& m) { return m.first == *src; });
                   same != made.end()) {
            out.push_back(out[same->second]);
        } else {
            made.emplace_back(*src, out.size());
            if (!rows.listed && !src->numbers) {
                out.push_back(Labels::range(k, src->start + rows.begin));
            } else if (rows.shared && !src->numbers && src->start == 0) {
                out.push_back(Labels::numbers(rows.shared));  // the positions are the labels
            } else {
                AlignedBuffer numbers = AlignedBuffer::reused(k * sizeof(uint64_t));
                jobs.push_back({*src, numbers.as<uint64_t>()});
                out.push_back(Labels::numbers(std::move(numbers)));
            }
        }
    }
    return out;
}

}  // namespace

Result<DataFrame> rebuild_frame(const DataFrame& df, const Rows& rows) {
    const uint64_t k = rows.size();
    if (Status s = check_frame_rebuild(df, k, rows.bound); !s) return s.error();
    std::vector<CoreArray> values;
    std::vector<ValueJob> value_jobs;
    for (const auto& [key, series] : df.columns) {
        const CoreArray& src = series.data;
        if (!is_table_numeric(src.dtype)) {  // then k is 0
            values.push_back(uninit({0}));
            continue;
        }
        values.push_back(float_column(k));
        value_jobs.push_back({src.data.data(), src.dtype == DType::Int32, values.back().f32()});
    }
    std::vector<LabelJob> label_jobs;
    std::vector<Labels> labels = rebuilt_labels(df, rows, label_jobs);
    run_pass(rows, value_jobs, label_jobs);

    DataFrame out;
    out.row_count = k;
    out.columns.reserve(df.columns.size());
    size_t c = 0;
    for (const auto& [key, series] : df.columns) {
        out.columns.insert_or_assign(key, Series{series.name, std::move(values[c]), std::move(labels[c])});
        ++c;
    }
    return out;
}

}  // namespace tessra
