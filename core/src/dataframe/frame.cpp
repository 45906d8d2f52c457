#include "dataframe/frame.hpp"

#include <absl/container/flat_hash_set.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "dataframe/csv/reader.hpp"
#include "dataframe/rebuild.hpp"
#include "scheduler/pool.hpp"

namespace tessra {

// ---- ColumnMap ----------------------------------------------------------------------------

namespace {
// The map's heterogeneous lookup takes abseil's own string view.
absl::string_view as_key(std::string_view s) { return {s.data(), s.size()}; }
}  // namespace

Series* ColumnMap::find(std::string_view key) {
    auto it = slot_.find(as_key(key));
    return it == slot_.end() ? nullptr : &entries_[it->second].series;
}

const Series* ColumnMap::find(std::string_view key) const {
    auto it = slot_.find(as_key(key));
    return it == slot_.end() ? nullptr : &entries_[it->second].series;
}

void ColumnMap::insert_or_assign(std::string key, Series series) {
    auto [it, fresh] = slot_.try_emplace(key, entries_.size());
    if (fresh)
        entries_.push_back({std::move(key), std::move(series)});
    else
        entries_[it->second].series = std::move(series);
}

bool ColumnMap::erase(std::string_view key) {
    auto it = slot_.find(as_key(key));
    if (it == slot_.end()) return false;
    const size_t at = it->second;
    slot_.erase(it);
    entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(at));
    for (size_t i = at; i < entries_.size(); ++i) slot_[entries_[i].key] = i;
    return true;
}

void ColumnMap::reserve(size_t n) {
    entries_.reserve(n);
    slot_.reserve(n);
}

// ---- whole frames -------------------------------------------------------------------------

DataFrame clone_frame(const DataFrame& df) {
    // Every column's bytes are split into equal pieces copied on all threads at once: a few
    // wide columns would otherwise leave most cores idle, and the first touch of a fresh
    // page (the kernel's zero-fill) is spread over the threads with the copy.
    constexpr uint64_t kPiece = pool::kCopyChunk * sizeof(float);
    // Bytes from which the pieces are copied side by side (4 MiB: ~0.5 ms of copying).
    constexpr uint64_t kFrameCopyMin = uint64_t{1} << 22;
    struct Piece {
        std::byte* dst;
        const std::byte* src;
        uint64_t bytes;
    };
    DataFrame out;
    out.row_count = df.row_count;
    out.columns.reserve(df.columns.size());
    std::vector<Piece> pieces;
    for (const auto& [key, series] : df.columns) {
        const CoreArray& a = series.data;
        CoreArray copy;
        copy.data = AlignedBuffer::uninit(a.data.size());
        copy.shape = a.shape;
        copy.strides = a.strides;
        copy.dtype = a.dtype;
        for (uint64_t at = 0; at < a.data.size(); at += kPiece)
            pieces.push_back({copy.data.data() + at, a.data.data() + at, std::min(kPiece, a.data.size() - at)});
        out.columns.insert_or_assign(key, Series{series.name, std::move(copy), series.index});
    }
    uint64_t bytes = 0;
    for (const Piece& piece : pieces) bytes += piece.bytes;
    pool::parallel_for(pieces.size(), bytes < kFrameCopyMin ? pieces.size() : 1, [&](size_t b, size_t e) {
        for (size_t i = b; i < e; ++i) std::memcpy(pieces[i].dst, pieces[i].src, pieces[i].bytes);
    });
    return out;
}

std::string frame_repr(const DataFrame& df) {
    return "DataFrame(rows=" + std::to_string(df.row_count) +
           ", cols=" + std::to_string(df.columns.size()) + ")";
}

namespace {

Error column_not_found(const std::string& name) { return key_error("Column " + name + " not found"); }

}  // namespace

// ---- in-place operations ------------------------------------------------------------------

Status frame_insert(DataFrame& df, std::string name, Series series) {
    const uint64_t count = series.data.element_count();
    if (df.columns.empty())
        df.row_count = count;
    else if (count != df.row_count)
        return value_error("Column length mismatch");
    df.columns.insert_or_assign(std::move(name), std::move(series));
    return ok_status();
}

void frame_drop(DataFrame& df, const std::vector<std::string>& names) {
    for (const std::string& name : names) df.columns.erase(name);
}

Status frame_rename(DataFrame& df, const std::vector<std::pair<std::string, std::string>>& mapping) {
    for (const auto& [from, to] : mapping)
        if (!df.columns.find(from)) return column_not_found(from);
    if (mapping.empty()) return ok_status();

    // Old key -> new key, and for each new key the old key that ends under it (the later one
    // in the mapping when several old keys share a new key).
    absl::flat_hash_map<std::string_view, std::string_view> new_key;
    absl::flat_hash_map<std::string_view, std::string_view> winner;
    for (const auto& [from, to] : mapping) {
        new_key[from] = to;
        winner[to] = from;
    }
    // A renamed column keeps its place; a column that is not renamed but sits under a new
    // key is replaced, as is a renamed column that loses its new key to a later one.
    ColumnMap out;
    out.reserve(df.columns.size());
    for (auto& [key, series] : df.columns) {
        auto renamed = new_key.find(key);
        if (renamed == new_key.end()) {
            if (!winner.contains(key)) out.insert_or_assign(key, std::move(series));
            continue;
        }
        const std::string_view to = renamed->second;
        if (winner.at(to) != key) continue;
        series.name = std::string(to);
        out.insert_or_assign(std::string(to), std::move(series));
    }
    df.columns = std::move(out);
    return ok_status();
}

Result<const Series*> frame_column(const DataFrame& df, const std::string& name) {
    const Series* s = df.columns.find(name);
    if (!s) return column_not_found(name);
    return s;
}

// ---- row operations -----------------------------------------------------------------------

Result<DataFrame> frame_iloc(const DataFrame& df, std::optional<uint64_t> start,
                             std::optional<uint64_t> end) {
    const uint64_t e = end ? std::min(*end, df.row_count) : df.row_count;
    const uint64_t s = start ? std::min(*start, e) : 0;
    return rebuild_frame(df, Rows::range(s, e));
}

namespace {

// Int32 target of a float: truncated toward zero, saturated, NaN giving 0.
int32_t saturating_i32(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0f) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0f) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

// Ascending positions i < n where v[i] == target, found in parallel chunks. Matches are
// usually rare, so each block is first tested as a whole with a branch-free loop the
// compiler turns into vector compares; only blocks holding a match are walked one by one.
template <class T>
std::vector<uint64_t> positions_equal(const T* v, uint64_t n, T target) {
    constexpr uint64_t kChunk = pool::kRowChunk;
    constexpr uint64_t kBlock = 64;
    std::vector<std::vector<uint64_t>> found((n + kChunk - 1) / kChunk);
    pool::parallel_for(n, kChunk, [&](size_t b, size_t e) {
        std::vector<uint64_t>& out = found[b / kChunk];
        uint64_t i = b;
        for (; i + kBlock <= e; i += kBlock) {
            unsigned hits = 0;
            for (uint64_t j = 0; j < kBlock; ++j) hits |= v[i + j] == target;
            if (hits)
                for (uint64_t j = i; j < i + kBlock; ++j)
                    if (v[j] == target) out.push_back(j);
        }
        for (; i < e; ++i)
            if (v[i] == target) out.push_back(i);
    });
    size_t total = 0;
    for (const auto& f : found) total += f.size();
    std::vector<uint64_t> out;
    out.reserve(total);
    for (const auto& f : found) out.insert(out.end(), f.begin(), f.end());
    return out;
}

}  // namespace

Result<DataFrame> frame_filter_eq(const DataFrame& df, const std::string& col_name, float value) {
    const Series* key = df.columns.find(col_name);
    if (!key) return column_not_found(col_name);
    const CoreArray& k = key->data;
    const uint64_t n = k.element_count();
    std::vector<uint64_t> positions;
    if (k.dtype == DType::Float32) {
        positions = positions_equal(k.f32(), n, value);
    } else if (k.dtype == DType::Int32) {
        positions = positions_equal(k.data.as<int32_t>(), n, saturating_i32(value));
    }
    const uint64_t bound = positions.empty() ? 0 : positions.back() + 1;
    return rebuild_frame(df, Rows::list(std::move(positions), bound));
}

// ---- read_csv -----------------------------------------------------------------------------

Result<DataFrame> read_csv_frame(const std::string& path) {
    Result<CsvColumns> read = read_csv_columns(path);
    if (!read) return read.error();
    CsvColumns& csv = read.value();
    const size_t n = csv.headers.size();
    DataFrame df;
    df.row_count = n == 0 ? 0 : csv.rows;
    df.columns.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        CoreArray values =
            from_buffer({csv.rows}, std::move(csv.columns[i]).take(), csv.rows).value();
        df.columns.insert_or_assign(
            csv.headers[i], Series{csv.headers[i], std::move(values), Labels::range(csv.rows)});
    }
    return df;
}

}  // namespace tessra
