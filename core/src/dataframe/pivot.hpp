#pragma once
// Reshaping a long frame into a wide one.
#include <string>

#include "dataframe/frame.hpp"
#include "util/error.hpp"

namespace tessra {

// One row per distinct key of column `index` and one column per distinct key of column
// `columns` (Float32 keys by bit pattern, Int32 keys by value), both in ascending order with
// NaN keys last; each cell holds the `values` entry of the last row with that pair of keys,
// NaN where there is none. The index column comes first; the others are named by the text of
// their key, a later name replacing an earlier column of the same name.
Result<DataFrame> frame_pivot(const DataFrame& df, const std::string& index,
                              const std::string& columns, const std::string& values);

}  // namespace tessra
