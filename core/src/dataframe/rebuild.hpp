#pragma once
// The one rule by which every derived table column is built from a source column and a list
// of source positions: Float32 values copied bit for bit, Int32 values converted to the
// nearest float, any other type gives no values (so from_vec's length error when rows exist).
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "array/aligned_buffer.hpp"
#include "array/core_array.hpp"
#include "dataframe/frame.hpp"
#include "dataframe/series.hpp"
#include "util/error.hpp"

namespace tessra {

// Source positions, in output order: the range [begin, end) or a list.
struct Rows {
    // A listed position with no source row: its value is NaN (for gather_values only).
    static constexpr uint64_t kMissing = ~uint64_t{0};

    static Rows range(uint64_t begin, uint64_t end);
    // `bound` is one past the largest listed position (0 for an empty list); `missing` says
    // whether kMissing may appear.
    static Rows list(std::vector<uint64_t> positions, uint64_t bound, bool missing = false);
    // A list held in an aligned buffer of uint64_t, which rebuilt labels may share.
    static Rows list(std::shared_ptr<const AlignedBuffer> positions, uint64_t bound);

    uint64_t size() const { return listed ? list().size() : end - begin; }
    std::span<const uint64_t> list() const {
        if (!shared) return owned;
        return {shared->as<uint64_t>(), shared->size() / sizeof(uint64_t)};
    }

    bool listed = false;
    uint64_t begin = 0;
    uint64_t end = 0;
    uint64_t bound = 0;  // a source must hold this many elements
    bool missing = false;
    // The listed positions, in one or the other.
    std::vector<uint64_t> owned;
    std::shared_ptr<const AlignedBuffer> shared;
};

// The error that rebuilding `src` into `k` rows read below position `bound` would meet, found
// before anything is sized: the values' first, then the labels'.
Status check_values(const std::string& key, const CoreArray& src, uint64_t k, uint64_t bound);
Status check_rebuild(const std::string& key, const Series& src, uint64_t k, uint64_t bound);
// The first such error among the frame's columns. A frame operation checks this before it sizes
// anything by the row count, which the frame only claims.
Status check_frame_rebuild(const DataFrame& df, uint64_t k, uint64_t bound);

// The rebuilt values as a one-dimensional Float32 array of shape [rows.size()]. A Float32 or
// Int32 source holding fewer than `rows.bound` elements is a ValueError naming `key`.
Result<CoreArray> gather_values(const std::string& key, const CoreArray& src, const Rows& rows);

// Every column rebuilt over `rows` (no kMissing) under its own key, with its own name and its
// labels at the same positions; the new frame has rows.size() rows. The first error of
// check_frame_rebuild is returned before anything is built.
Result<DataFrame> rebuild_frame(const DataFrame& df, const Rows& rows);

// "Column {key} has {n} values for {rows} rows", the error of a column that a frame's
// operation would read past.
Error short_column(const std::string& key, uint64_t have, uint64_t rows, const char* what);

}  // namespace tessra
