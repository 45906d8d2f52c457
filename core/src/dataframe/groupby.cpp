#include "dataframe/groupby.hpp"

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <bit>
#include <optional>

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

// Key -> group number, for the per-row pass: open addressing with the pair in one word keeps
// a probe to one load, where a general map's lookup costs several times that per row.
class KeyNumbers {
public:
    // The number of `key`, filing it as `next` when it is new (then fresh is set).
    uint32_t find_or_add(uint32_t key, uint32_t next, bool& fresh) {
        for (uint64_t i = slot_of(key);; i = (i + 1) & mask_) {
            const uint64_t s = slots_[i];
            if (s == 0) {
                slots_[i] = (uint64_t{next} + 1) << 32 | key;
                fresh = true;
                if (++size_ * 2 > slots_.size()) grow();
                return next;
            }
            if (static_cast<uint32_t>(s) == key) {
                fresh = false;
                return static_cast<uint32_t>((s >> 32) - 1);
            }
        }
    }

private:
    uint64_t slot_of(uint32_t key) const { return (key * 0x9E3779B97F4A7C15ull) >> shift_; }
    void grow() {
        std::vector<uint64_t> old = std::move(slots_);
        slots_.assign(old.size() * 2, 0);
        mask_ = slots_.size() - 1;
        --shift_;
        for (uint64_t s : old)
            if (s != 0) {
                uint64_t i = slot_of(static_cast<uint32_t>(s));
                while (slots_[i] != 0) i = (i + 1) & mask_;
                slots_[i] = s;
            }
    }

    std::vector<uint64_t> slots_ = std::vector<uint64_t>(kStart, 0);  // (number + 1) << 32 | key; 0 empty
    uint64_t mask_ = kStart - 1;
    int shift_ = 64 - std::countr_zero(kStart);
    uint64_t size_ = 0;
    static constexpr uint64_t kStart = 1024;
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
    const uint64_t chunks = (n + chunk - 1) / chunk;
    // Each chunk numbers its own keys; the chunks are then merged in order, so group numbers
    // still follow the first occurrence in the whole column.
    std::vector<std::vector<uint32_t>> distinct(chunks);
    std::vector<std::vector<uint64_t>> counts(chunks);
    pool::parallel_for(n, chunk, [&](size_t begin, size_t end) {
        number_keys(keys, begin, end, codes, distinct[begin / chunk], counts[begin / chunk]);
    });
    absl::flat_hash_map<uint32_t, uint32_t> number;
    std::vector<std::vector<uint32_t>> renumber(chunks);
    for (uint64_t c = 0; c < chunks; ++c) {
        renumber[c].resize(distinct[c].size());
        for (size_t j = 0; j < distinct[c].size(); ++j) {
            auto [it, fresh] = number.try_emplace(distinct[c][j], static_cast<uint32_t>(g.keys.size()));
            if (fresh) {
                g.keys.push_back(distinct[c][j]);
                g.counts.push_back(0);
            }
            g.counts[it->second] += counts[c][j];
            renumber[c][j] = it->second;
        }
    }
    // The first chunk's numbers are already the global ones.
    pool::parallel_for(n - chunk, chunk, [&](size_t begin, size_t end) {
        const uint32_t* map = renumber[begin / chunk + 1].data();
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
