#include "dataframe/pivot.hpp"

#include <algorithm>
#include <bit>
#include <vector>

#include "dataframe/groupby.hpp"
#include "dataframe/missing.hpp"
#include "dataframe/rebuild.hpp"
#include "sort/stable_sort.hpp"
#include "scheduler/pool.hpp"
#include "util/float_text.hpp"
#include "util/memory_limit.hpp"

namespace tessra {

namespace {

// The distinct keys of a key column in ascending order, and the place of each element's key
// among them. A column of another type has no keys.
struct SortedKeys {
    bool int_keys = false;
    std::vector<uint32_t> keys;
    AlignedBuffer place;  // uint32_t per element
};

SortedKeys sorted_keys(const CoreArray& col) {
    SortedKeys s;
    if (!is_table_numeric(col.dtype)) return s;
    s.int_keys = col.dtype == DType::Int32;
    Groups g = group_keys(col.data.as<uint32_t>(), col.element_count(),
                          s.int_keys ? Groups::Kind::Int : Groups::Kind::Float);
    // Groups are numbered by first occurrence, so a stable sort of them keeps equal keys
    // (0.0 and -0.0, the NaNs) in that order.
    const std::vector<uint64_t> order = stable_order(g.keys.data(), g.keys.size(), s.int_keys);
    std::vector<uint32_t> rank(order.size());
    s.keys.resize(order.size());
    for (size_t r = 0; r < order.size(); ++r) {
        s.keys[r] = g.keys[order[r]];
        rank[order[r]] = static_cast<uint32_t>(r);
    }
    s.place = std::move(g.codes);
    uint32_t* place = s.place.as<uint32_t>();
    pool::parallel_for(g.rows, pool::kRowChunk, [&](size_t b, size_t e) {
        for (size_t i = b; i < e; ++i) place[i] = rank[place[i]];
    });
    return s;
}

std::string key_text(uint32_t key, bool int_keys) {
    return int_keys ? std::to_string(static_cast<int32_t>(key)) : float_plain_text(std::bit_cast<float>(key));
}

// Rows later in the frame overwrite earlier ones, so the fill runs in row order.
template <class T>
void fill_cells(float* const* cells, const uint32_t* p, const uint32_t* q, const T* v, uint64_t rows) {
    for (uint64_t i = 0; i < rows; ++i) cells[q[i]][p[i]] = static_cast<float>(v[i]);
}

}  // namespace

Result<DataFrame> frame_pivot(const DataFrame& df, const std::string& index,
                              const std::string& columns, const std::string& values) {
    const Series* used[3];
    const std::string* names[3] = {&index, &columns, &values};
    for (int i = 0; i < 3; ++i) {
        used[i] = df.columns.find(*names[i]);
        if (!used[i]) return key_error("Column " + *names[i] + " not found");
    }
    const uint64_t rows = df.row_count;
    if (rows > 0) {
        for (const Series* s : used)
            if (!is_table_numeric(s->data.dtype)) return type_error("Unsupported pivot column dtype");
        for (int i = 0; i < 3; ++i) {
            const uint64_t have = used[i]->data.element_count();
            if (have < rows) return short_column(*names[i], have, rows, "values");
        }
    }

    SortedKeys row_keys, col_keys;
    auto rows_side = [&] { row_keys = sorted_keys(used[0]->data); };
    auto cols_side = [&] { col_keys = sorted_keys(used[1]->data); };
    if (rows >= pool::kRowChunk) {
        pool::parallel_invoke(rows_side, cols_side);
    } else {
        rows_side();
        cols_side();
    }
    const uint64_t k = row_keys.keys.size(), c = col_keys.keys.size();
    if (k > 0) require_memory(c, k * sizeof(float));

    std::vector<CoreArray> grid;
    std::vector<float*> cells;
    grid.reserve(c);
    cells.reserve(c);
    for (uint64_t q = 0; q < c; ++q) {
        grid.push_back(uninit({k}));
        cells.push_back(grid.back().f32());
        std::fill_n(cells.back(), k, missing_value());
    }
    const CoreArray& v = used[2]->data;
    if (rows > 0) {
        if (v.dtype == DType::Float32)
            fill_cells(cells.data(), row_keys.place.as<uint32_t>(), col_keys.place.as<uint32_t>(), v.f32(), rows);
        else
            fill_cells(cells.data(), row_keys.place.as<uint32_t>(), col_keys.place.as<uint32_t>(), v.data.as<int32_t>(), rows);
    }

    DataFrame out;
    out.row_count = k;
    out.columns.reserve(c + 1);
    CoreArray index_values = uninit({k});
    for (uint64_t p = 0; p < k; ++p) index_values.f32()[p] = key_value(row_keys.keys[p], row_keys.int_keys);
    out.columns.insert_or_assign(index, Series{index, std::move(index_values), Labels::range(k)});
    for (uint64_t q = 0; q < c; ++q) {
        std::string name = key_text(col_keys.keys[q], col_keys.int_keys);
        out.columns.insert_or_assign(name, Series{name, std::move(grid[q]), Labels::range(k)});
    }
    return out;
}

}  // namespace tessra
