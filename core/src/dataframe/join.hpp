#pragma once
// Inner and left joins of two frames on one key column each.
#include <string>

#include "dataframe/frame.hpp"
#include "util/error.hpp"

namespace tessra {

// One output row per pair of a left row and a right row with the same key (Float32 keys by
// bit pattern, Int32 keys by value): left rows in order, each with its right rows ascending;
// in a "left" join an unmatched left row pairs with no row, NaN in every right column. Other
// key types pair nothing. Every column of `self` comes first, then every column of `other`
// but its key, with "_y" appended where `self` has that name; all values are Float32 and the
// labels are "0" .. n-1. `other` may be `self`.
Result<DataFrame> frame_join(const DataFrame& self, const DataFrame& other,
                             const std::string& left_on, const std::string& right_on,
                             const std::string& how);

}  // namespace tessra
