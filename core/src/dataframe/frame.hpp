#pragma once
// DataFrame: named Series columns plus a row count. Columns keep the order in which their keys
// were first inserted; replacing a column keeps its place.
#include <absl/container/flat_hash_map.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dataframe/series.hpp"
#include "util/error.hpp"

namespace tessra {

class ColumnMap {
public:
    struct Entry {
        std::string key;
        Series series;
    };

    Series* find(std::string_view key);
    const Series* find(std::string_view key) const;
    // Inserts under `key`, replacing (in place) a column already filed there.
    void insert_or_assign(std::string key, Series series);
    // Removes the column under `key`; false when there is none.
    bool erase(std::string_view key);

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    void reserve(size_t n);
    auto begin() { return entries_.begin(); }
    auto end() { return entries_.end(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

private:
    std::vector<Entry> entries_;
    absl::flat_hash_map<std::string, size_t> slot_;  // key -> position in entries_
};

struct DataFrame {
    ColumnMap columns;
    uint64_t row_count = 0;
};

// A new frame with a deep copy of every column.
DataFrame clone_frame(const DataFrame& df);
// "DataFrame(rows=3, cols=2)"
std::string frame_repr(const DataFrame& df);

// In-place operations; a failure leaves the frame unchanged.
Status frame_insert(DataFrame& df, std::string name, Series series);
void frame_drop(DataFrame& df, const std::vector<std::string>& names);
// `mapping` pairs old -> new name; old names are distinct.
Status frame_rename(DataFrame& df, const std::vector<std::pair<std::string, std::string>>& mapping);

// KeyError "Column {} not found" when `name` is not a key.
Result<const Series*> frame_column(const DataFrame& df, const std::string& name);

// Operations that return a new frame.
Result<DataFrame> frame_iloc(const DataFrame& df, std::optional<uint64_t> start,
                             std::optional<uint64_t> end);
Result<DataFrame> frame_filter_eq(const DataFrame& df, const std::string& col_name, float value);
Result<DataFrame> frame_sort_values(const DataFrame& df, const std::string& col_name, bool ascending);

// The file at `path` as a frame of Float32 columns named by its header, labels "0" .. rows-1.
// Of several header fields with one name, the rightmost one's values stay.
Result<DataFrame> read_csv_frame(const std::string& path);

}  // namespace tessra
