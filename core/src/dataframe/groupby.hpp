#pragma once
// GroupBy: the rows of a frame split by the distinct values of one Float32 or Int32 column,
// and the per-group sums and means.
#include <cstdint>
#include <string>
#include <vector>

#include "dataframe/frame.hpp"
#include "util/error.hpp"

namespace tessra {

// The groups of a key column: one group per distinct 32-bit key (Float32 keys by bit pattern,
// Int32 keys by value), numbered in order of first occurrence. A group's rows are the
// positions whose code is its number, in ascending order.
struct Groups {
    enum class Kind : uint8_t { None, Float, Int };
    Kind kind = Kind::None;
    std::vector<uint32_t> keys;    // per group
    std::vector<uint64_t> counts;  // rows per group
    std::vector<uint32_t> codes;   // group of each element of the key column
};

// Groups of n 32-bit keys.
Groups group_keys(const uint32_t* keys, uint64_t n, Groups::Kind kind);

struct GroupBy {
    DataFrame df;  // a copy taken when grouping; later changes to the source do not reach it
    std::string by;
    Groups groups;
};

// Errors: KeyError "Column {} not found for groupby", TypeError "Unsupported grouping column
// dtype".
Result<GroupBy> frame_groupby(const DataFrame& df, const std::string& by);

// One row per group in ascending key order: the key column holds the keys, every Float32 or
// Int32 column the sum (mean) of its values in the group, accumulated in f32 in row order,
// any other column 0.0.
Result<DataFrame> groupby_sum(const GroupBy& g);
Result<DataFrame> groupby_mean(const GroupBy& g);

}  // namespace tessra
