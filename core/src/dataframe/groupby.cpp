#include "dataframe/groupby.hpp"

#include <algorithm>
#include <optional>

#include "dataframe/key_table.hpp"
#include "dataframe/rebuild.hpp"
#include "sort/stable_sort.hpp"
#include "scheduler/pool.hpp"

namespace tessra {

namespace {

// Keys per piece of group numbering; each piece keeps its own hash table, so pieces stay few
// (two per thread) and long enough that merging the tables costs little beside numbering.
constexpr size_t kGroupChunk = size_t{1} << 18;
// Rows from which the columns of a group aggregation are summed side by side (~40 us per column).
constexpr size_t kColumnRowsMin = size_t{1} << 16;

// Key -> group number, for the per-row pass; grows as keys arrive.
class KeyNumbers {
public:
    KeyNumbers() = default;
    KeyNumbers(const KeyNumbers&) = delete;  // the table views its own slots
    KeyNumbers& operator=(const KeyNumbers&) = delete;

    // The number of `key`, filing it as `next` when it is new (then fresh is set).
    uint32_t find_or_add(uint32_t key, uint32_t next, bool& fresh) {
        KeySlot& slot = table_.probe(key);
        fresh = slot.value == KeySlot::kFree;
        if (!fresh) return slot.value;
        slot = {key, next};
        if (++size_ * 2 > table_.size()) grow();
        return next;
    }

private:
    void grow() {
        std::vector<KeySlot> old = std::move(slots_);
        slots_.assign(old.size() * 2, KeySlot{0, KeySlot::kFree});
        table_ = KeyTable(slots_.data(), table_.bits() + 1);
        for (const KeySlot& s : old)
            if (s.value != KeySlot::kFree) table_.probe(s.key) = s;
    }

    static constexpr int kStartBits = 10;
    std::vector<KeySlot> slots_ =
        std::vector<KeySlot>(size_t{1} << kStartBits, KeySlot{0, KeySlot::kFree});
    KeyTable table_{slots_.data(), kStartBits};
    uint64_t size_ = 0;
};

// Numbers the distinct keys of keys[b, e) in order of first occurrence: writes the local
// number of each row to codes[b, e) and appends each new key and its row count.
void number_keys(const uint32_t* keys, uint64_t b, uint64_t e, uint32_t* codes,
                 std::vector<uint32_t>& distinct, std::vector<uint64_t>& counts) {
    KeyNumbers number;
    uint32_t last_key = 0, last_code = 0;
    bool have_last = false;
    for (uint64_t i = b; i < e; ++i) {
        const uint32_t k = keys[i];
        if (!have_last || k != last_key) {
            bool fresh;
            last_code = number.find_or_add(k, static_cast<uint32_t>(distinct.size()), fresh);
            if (fresh) {
                distinct.push_back(k);
                counts.push_back(0);
            }
            last_key = k;
            have_last = true;
        }
        codes[i] = last_code;
        ++counts[last_code];
    }
}

}  // namespace

Groups group_keys(const uint32_t* keys, uint64_t n, Groups::Kind kind) {
    Groups g;
    g.kind = kind;
    g.rows = n;
    g.codes = AlignedBuffer::uninit(n * sizeof(uint32_t));
    uint32_t* codes = g.codes.as<uint32_t>();
    if (n <= kGroupChunk) {
        number_keys(keys, 0, n, codes, g.keys, g.counts);
        return g;
    }
    const uint64_t chunk = pool::grain_for(n, 2, kGroupChunk);
    const uint64_t chunks = pool::piece_count(n, chunk);
    // Each chunk numbers its own keys; the chunks are then merged in order, so group numbers
    // still follow the first occurrence in the whole column.
    std::vector<std::vector<uint32_t>> distinct(chunks);
    std::vector<std::vector<uint64_t>> counts(chunks);
    pool::parallel_for_pieces(n, chunk, [&](size_t c, size_t begin, size_t end) {
        number_keys(keys, begin, end, codes, distinct[c], counts[c]);
    });
    KeyNumbers number;
    std::vector<std::vector<uint32_t>> renumber(chunks);
    for (uint64_t c = 0; c < chunks; ++c) {
        renumber[c].resize(distinct[c].size());
        for (size_t j = 0; j < distinct[c].size(); ++j) {
            bool fresh;
            const uint32_t global =
                number.find_or_add(distinct[c][j], static_cast<uint32_t>(g.keys.size()), fresh);
            if (fresh) {
                g.keys.push_back(distinct[c][j]);
                g.counts.push_back(0);
            }
            g.counts[global] += counts[c][j];
            renumber[c][j] = global;
        }
    }
    // The first chunk's numbers are already the global ones.
    pool::parallel_for_pieces(n - chunk, chunk, [&](size_t c, size_t begin, size_t end) {
        const uint32_t* map = renumber[c + 1].data();
        uint32_t* later = codes + chunk;
        for (uint64_t i = begin; i < end; ++i) later[i] = map[later[i]];
    });
    return g;
}

Result<GroupBy> frame_groupby(const DataFrame& df, const std::string& by) {
    const Series* key = df.columns.find(by);
    if (!key) return key_error("Column " + by + " not found for groupby");
    Groups::Kind kind;
    if (key->data.dtype == DType::Float32)
        kind = Groups::Kind::Float;
    else if (key->data.dtype == DType::Int32)
        kind = Groups::Kind::Int;
    else
        return type_error("Unsupported grouping column dtype");
    GroupBy g{clone_frame(df), by, {}};
    const CoreArray& k = g.df.columns.find(by)->data;
    g.groups = group_keys(k.data.as<uint32_t>(), k.element_count(), kind);
    return g;
}

namespace {

Result<DataFrame> aggregate(const GroupBy& gb, bool mean) {
    const Groups& groups = gb.groups;
    if (groups.kind == Groups::Kind::None) return runtime_error("No groups found");
    const bool int_keys = groups.kind == Groups::Kind::Int;
    const uint64_t g = groups.keys.size();
    const uint64_t rows = groups.rows;
    const std::vector<uint64_t> order = stable_order(groups.keys.data(), g, int_keys);

    std::vector<const ColumnMap::Entry*> columns;
    for (const auto& entry : gb.df.columns) columns.push_back(&entry);
    std::vector<std::optional<CoreArray>> values(columns.size());
    std::vector<std::optional<Error>> errors(columns.size());

    // Columns are independent; within a column the sums run in row order.
    auto one_column = [&](size_t c) {
        const std::string& key = columns[c]->key;
        const CoreArray& src = columns[c]->series.data;
        CoreArray out = uninit({g});
        float* dst = out.f32();
        if (key == gb.by) {
            for (uint64_t r = 0; r < g; ++r) dst[r] = key_value(groups.keys[order[r]], int_keys);
        } else if (!is_table_numeric(src.dtype)) {
            std::fill(dst, dst + g, 0.0f);
        } else if (src.element_count() < rows) {
            errors[c] = short_column(key, src.element_count(), rows, "values");
            return;
        } else {
            std::vector<float> acc(g, 0.0f);
            const uint32_t* codes = groups.codes.as<uint32_t>();
            if (src.dtype == DType::Float32) {
                const float* v = src.f32();
                for (uint64_t i = 0; i < rows; ++i) acc[codes[i]] += v[i];
            } else {
                const int32_t* v = src.data.as<int32_t>();
                for (uint64_t i = 0; i < rows; ++i) acc[codes[i]] += static_cast<float>(v[i]);
            }
            for (uint64_t r = 0; r < g; ++r) {
                const uint64_t grp = order[r];
                dst[r] = mean ? acc[grp] / static_cast<float>(groups.counts[grp]) : acc[grp];
            }
        }
        values[c] = std::move(out);
    };
    pool::parallel_for(columns.size(), rows < kColumnRowsMin ? columns.size() : 1,
                       [&](size_t c0, size_t c1) {
                           for (size_t c = c0; c < c1; ++c) one_column(c);
                       });

    DataFrame out;
    out.row_count = g;
    out.columns.reserve(columns.size());
    for (size_t c = 0; c < columns.size(); ++c) {
        if (errors[c]) return *errors[c];
        const std::string& key = columns[c]->key;
        out.columns.insert_or_assign(key, Series{key, std::move(*values[c]), Labels::range(g)});
    }
    return out;
}

}  // namespace

Result<DataFrame> groupby_sum(const GroupBy& g) { return aggregate(g, false); }
Result<DataFrame> groupby_mean(const GroupBy& g) { return aggregate(g, true); }

}  // namespace tessra
