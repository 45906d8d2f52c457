#pragma once
// Series: one named column of values with one text label per value.
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "array/core_array.hpp"
#include "dataframe/labels.hpp"
#include "util/error.hpp"

namespace tessra {

struct Series {
    std::string name;
    CoreArray data;  // any shape and type; elements are read linearly in storage order
    Labels index;    // one per element, unless changed through the setters
};

// A new Series with its own copy of everything.
Series clone_series(const Series& s);

// Series(name, data, index=None): the values are copied; labels default to "0" .. count - 1.
Result<Series> make_series(std::string name, const CoreArray& data,
                           std::optional<std::vector<std::string>> index);

// The first / last min(n, count) values (n defaults to 5), as Float32.
Result<Series> series_head(const Series& s, std::optional<uint64_t> n);
Result<Series> series_tail(const Series& s, std::optional<uint64_t> n);
// Distinct values (Float32 by bit pattern, Int32 by value) in order of first occurrence.
Result<Series> series_unique(const Series& s);

// Occurrences per distinct value, in order of first occurrence. A key is the 32-bit pattern of
// a Float32 value or the value of an Int32 one.
struct ValueCounts {
    bool int_keys = false;
    std::vector<uint32_t> keys;
    std::vector<uint64_t> counts;
};
Result<ValueCounts> series_value_counts(const Series& s);

// Float32 or Int32: the types the table operations read.
inline bool is_table_numeric(DType t) { return t == DType::Float32 || t == DType::Int32; }

// The value of a 32-bit key of either type as a float.
inline float key_value(uint32_t key, bool int_keys) {
    return int_keys ? static_cast<float>(static_cast<int32_t>(key)) : std::bit_cast<float>(key);
}

}  // namespace tessra
