// DataFrame.sort_values: the stable order of the key column, then every column rebuilt in it.
#include <cstring>
#include <memory>

#include "dataframe/frame.hpp"
#include "dataframe/rebuild.hpp"
#include "scheduler/pool.hpp"
#include "sort/presorted.hpp"
#include "sort/stable_sort.hpp"

namespace tessra {

namespace {

// The stable ascending order of the n (>= 2) keys, or for descending its exact reverse (equal
// keys then come out in reverse order), in reused pages; null when it is the identity.
std::shared_ptr<const AlignedBuffer> sorted_positions(const uint32_t* keys, uint64_t n, bool int_keys,
                                                      bool ascending) {
    const Presorted pre = presorted(keys, n, int_keys, ascending);
    if (pre == Presorted::Identity) return nullptr;
    AlignedBuffer out = AlignedBuffer::reused(n * sizeof(uint64_t));
    uint64_t* p = out.as<uint64_t>();
    if (pre == Presorted::ReversedRuns) {
        reversed_runs(keys, n, int_keys, p);
    } else if (n > kPackedOrderMax) {
        const std::vector<uint64_t> order = stable_order(keys, n, int_keys);
        for (uint64_t i = 0; i < n; ++i) p[i] = order[ascending ? i : n - 1 - i];
    } else {
        const PackedOrder order = packed_order(keys, n, int_keys);
        pool::parallel_for(n, pool::kRowChunk, [&](size_t b, size_t e) {
            if (ascending)
                for (size_t i = b; i < e; ++i) p[i] = order.position(i);
            else
                for (size_t i = b; i < e; ++i) p[i] = order.position(n - 1 - i);
        });
    }
    return std::make_shared<const AlignedBuffer>(std::move(out));
}

}  // namespace

Result<DataFrame> frame_sort_values(const DataFrame& df, const std::string& col_name, bool ascending) {
    Result<const Series*> found = frame_column(df, col_name);
    if (!found) return found.error();
    const CoreArray& k = found.value()->data;
    const uint64_t n = df.row_count;
    if (k.element_count() < n && is_table_numeric(k.dtype))
        return short_column(col_name, k.element_count(), n, "values");
    if (Status s = check_frame_rebuild(df, n, n); !s) return s.error();
    if (n < 2 || !is_table_numeric(k.dtype)) {
        if (ascending || n < 2) return rebuild_frame(df, Rows::range(0, n));
        std::vector<uint64_t> reversed(n);
        for (uint64_t i = 0; i < n; ++i) reversed[i] = n - 1 - i;
        return rebuild_frame(df, Rows::list(std::move(reversed), n));
    }
    auto order = sorted_positions(k.data.as<uint32_t>(), n, k.dtype == DType::Int32, ascending);
    if (!order) return rebuild_frame(df, Rows::range(0, n));
    return rebuild_frame(df, Rows::list(std::move(order), n));
}

}  // namespace tessra
