#include "dataframe/join.hpp"

#include <algorithm>
#include <bit>
#include <span>
#include <utility>
#include <vector>

#include "array/aligned_buffer.hpp"
#include "dataframe/key_table.hpp"
#include "dataframe/rebuild.hpp"
#include "scheduler/pool.hpp"
#include "util/memory_limit.hpp"
#include "util/panic.hpp"

namespace tessra {

namespace {

// One allocation for all of a join's working arrays, handed out in order; every value is
// written before it is read. A large one comes back from the allocator's kept mappings on the
// next join of the same size, its pages already faulted in.
class Scratch {
public:
    explicit Scratch(uint64_t bytes) : buffer_(AlignedBuffer::uninit(bytes)) {}
    template <class T>
    T* take(uint64_t n) {
        const uint64_t bytes = (n * sizeof(T) + AlignedBuffer::kAlign - 1) & ~(AlignedBuffer::kAlign - 1);
        if (bytes > buffer_.size() - used_) panic("Join scratch space too small");
        T* p = reinterpret_cast<T*>(buffer_.data() + used_);
        used_ += bytes;
        return p;
    }
    // Room for `n` values of T taken by one take().
    template <class T>
    static uint64_t room(uint64_t n) { return n * sizeof(T) + AlignedBuffer::kAlign; }

private:
    AlignedBuffer buffer_;
    uint64_t used_ = 0;
};

// Rows per piece of a pass over the rows of one side: a few pieces per pool thread, none
// shorter than `min_rows`.
uint64_t row_grain(uint64_t n, uint64_t min_rows) { return pool::grain_for(n, 4, min_rows); }

// Key columns are split by key hash into 2^bits partitions, so that the work on one
// partition stays within a cache-sized part of the index. A partition is the hash's top bits.
struct Partitioning {
    explicit Partitioning(int bits) : bits(bits) {}
    size_t of(uint32_t key) const {
        return static_cast<size_t>((key_hash(key) >> 32) >> (32 - bits));
    }
    size_t count() const { return size_t{1} << bits; }

    int bits;
};

// The rows 0 .. n-1 and their keys ordered by partition, rows ascending within each; `begin`
// holds where each partition starts, then n. Pieces count their rows per partition, then
// scatter them; the keys travel along so that each partition reads its own in order.
struct PartitionedRows {
    uint64_t* rows = nullptr;
    uint32_t* keys = nullptr;
    std::vector<uint64_t> begin;
};

PartitionedRows partition_rows(const uint32_t* keys, uint64_t n, const Partitioning& part, Scratch& scratch) {
    const size_t parts = part.count();
    PartitionedRows out;
    out.begin.assign(parts + 1, n);
    const uint64_t grain = row_grain(n, pool::kRowChunk);
    const size_t pieces = pool::piece_count(n, grain);
    std::vector<uint64_t> cursor(pieces * parts);  // [piece][partition]
    pool::parallel_for_pieces(n, grain, [&](size_t c, size_t b, size_t e) {
        uint64_t* count = &cursor[c * parts];
        for (uint64_t i = b; i < e; ++i) ++count[part.of(keys[i])];
    });
    uint64_t at = 0;
    for (size_t p = 0; p < parts; ++p) {
        out.begin[p] = at;
        for (size_t c = 0; c < pieces; ++c) at += std::exchange(cursor[c * parts + p], at);
    }
    out.rows = scratch.take<uint64_t>(n);
    out.keys = scratch.take<uint32_t>(n);
    uint64_t* rows = out.rows;
    uint32_t* sorted_keys = out.keys;
    pool::parallel_for_pieces(n, grain, [&](size_t c, size_t b, size_t e) {
        uint64_t* next = &cursor[c * parts];
        for (uint64_t i = b; i < e; ++i) {
            const uint32_t key = keys[i];
            const uint64_t at = next[part.of(key)]++;
            rows[at] = i;
            sorted_keys[at] = key;
        }
    });
    return out;
}

// The rows of the right key column grouped by key, each group's rows ascending, indexed
// partition by partition. Each partition's table is sized up front and stays within a
// cache-sized block of one shared allocation.
class KeyIndex {
public:
    KeyIndex(const uint32_t* keys, uint64_t n, const Partitioning& part, Scratch& scratch);
    // Scratch bytes an index of `n` rows may take: each table has at most 4 slots per row, or 2.
    static uint64_t room(uint64_t n, const Partitioning& part) {
        return Scratch::room<uint64_t>(n) + Scratch::room<uint32_t>(n) +
               Scratch::room<KeySlot>(4 * n + 2 * part.count());
    }

    // How many rows hold `key` in its partition, and the first of them.
    struct Found {
        uint64_t count = 0;
        uint64_t first = 0;
    };
    Found find_rows(size_t partition, uint32_t key) const {
        const Part& part = parts_[partition];
        const uint32_t group = part.table.probe(key).value;
        if (group == KeySlot::kFree) return {};
        if (part.direct) return {1, group};
        // Without repeated keys group g is the partition's row g.
        if (part.start.empty()) return {1, rows_[part.begin + group]};
        return {part.start[group + 1] - part.start[group], rows_[part.start[group]]};
    }
    // The rows holding a key that find_rows() counted more than once, ascending.
    std::span<const uint64_t> repeated_rows(uint32_t key) const {
        const Part& part = parts_[part_.of(key)];
        const uint32_t group = part.table.probe(key).value;
        return {rows_ + part.start[group], rows_ + part.start[group + 1]};
    }
    void prefetch(size_t partition, uint32_t key) const { parts_[partition].table.prefetch(key); }

private:
    struct Part {
        uint64_t begin = 0;           // where the partition's rows start in rows_
        KeyTable table;               // key -> group, numbered in first-row order, or row
        bool direct = false;          // the table holds rows, not groups (all keys distinct)
        std::vector<uint64_t> start;  // with repeated keys only: where each group starts, then the end
    };
    // Load at most one half.
    static int table_bits(uint64_t rows) {
        return std::max(1, static_cast<int>(std::bit_width(rows)) + 1);
    }

    Partitioning part_;
    std::vector<Part> parts_;
    uint64_t* rows_;  // grouped rows, partition by partition
};

KeyIndex::KeyIndex(const uint32_t* keys, uint64_t n, const Partitioning& part, Scratch& scratch)
    : part_(part), parts_(part.count()) {
    PartitionedRows by_part;
    if (part.bits > 0) {
        by_part = partition_rows(keys, n, part, scratch);
        rows_ = by_part.rows;
    } else {
        rows_ = scratch.take<uint64_t>(n);
        for (uint64_t i = 0; i < n; ++i) rows_[i] = i;
        by_part.begin = {0, n};
    }
    const uint32_t* part_keys = part.bits > 0 ? by_part.keys : keys;
    uint64_t slots = 0;
    for (size_t p = 0; p < parts_.size(); ++p)
        slots += uint64_t{1} << table_bits(by_part.begin[p + 1] - by_part.begin[p]);
    KeySlot* next = scratch.take<KeySlot>(slots);
    for (size_t p = 0; p < parts_.size(); ++p) {
        // The partition took the hash's top bits; the home slot takes the ones below them.
        const int bits = table_bits(by_part.begin[p + 1] - by_part.begin[p]);
        parts_[p].begin = by_part.begin[p];
        parts_[p].table = KeyTable(next, bits, part.bits);
        next += parts_[p].table.size();
    }
    pool::parallel_tasks(parts_.size(), [&](size_t p) {
        Part& part = parts_[p];
        const KeyTable& table = part.table;
        const uint64_t b = part.begin, e = by_part.begin[p + 1];
        table.clear();
        uint32_t groups = 0;
        for (uint64_t j = b; j < e; ++j) {
            KeySlot& slot = table.probe(part_keys[j]);
            if (slot.value == KeySlot::kFree) slot = {part_keys[j], groups++};
        }
        // Groups are numbered in row order, so rows with distinct keys are in place already;
        // a row small enough to sit in the slot spares the lookup a second cache miss.
        if (groups == e - b) {
            if (n >= KeySlot::kFree) return;
            for (KeySlot& slot : table)
                if (slot.value != KeySlot::kFree)
                    slot.value = static_cast<uint32_t>(rows_[b + slot.value]);
            part.direct = true;
            return;
        }
        std::vector<uint64_t>& start = part.start;
        start.assign(groups + 1, 0);
        for (uint64_t j = b; j < e; ++j) ++start[table.probe(part_keys[j]).value + 1];
        start[0] = b;
        for (uint32_t g = 0; g < groups; ++g) start[g + 1] += start[g];
        const std::vector<uint64_t> src(rows_ + b, rows_ + e);
        std::vector<uint64_t> next(start.begin(), start.end() - 1);
        for (uint64_t j = b; j < e; ++j)
            rows_[next[table.probe(part_keys[j]).value]++] = src[j - b];
    });
}

// ---- pairing the rows: index the right side, match the left rows, lay out, write ----------

// Each left row's match: Rows::kMissing for none, the right row for one, kSeveral with the
// number of rows for more (looked up again when written).
constexpr uint64_t kSeveral = uint64_t{1} << 63;
bool several(uint64_t m) { return m != Rows::kMissing && (m & kSeveral); }
// Output rows of a left row with match m.
uint64_t output_rows(uint64_t m, bool keep_unmatched) {
    return m == Rows::kMissing ? uint64_t{keep_unmatched} : several(m) ? m & ~kSeveral : 1;
}

// About 8K right rows per partition keep a partition's table and rows in cache.
Partitioning partitioning_for(uint64_t n, uint64_t right_n) {
    const uint64_t larger = std::max(n, right_n);
    if (larger < (1 << 14)) return Partitioning(0);
    return Partitioning(std::bit_width(std::min<uint64_t>(larger >> 13, 1024)) - 1);
}

// The match of each left row, found partition by partition.
const uint64_t* match_left_rows(const KeyIndex& index, const uint32_t* left_keys, uint64_t n,
                                const Partitioning& part, Scratch& scratch) {
    uint64_t* match = scratch.take<uint64_t>(n);
    PartitionedRows by_part;
    if (part.bits > 0) by_part = partition_rows(left_keys, n, part, scratch);
    const uint64_t* src = by_part.rows;
    const uint32_t* src_keys = src ? by_part.keys : left_keys;
    pool::parallel_tasks(part.count(), [&](size_t p) {
        const uint64_t b = src ? by_part.begin[p] : 0, e = src ? by_part.begin[p + 1] : n;
        constexpr uint64_t kAhead = 16;  // lookups in flight
        for (uint64_t j = b; j < e; ++j) {
            if (j + kAhead < e) index.prefetch(p, src_keys[j + kAhead]);
            const KeyIndex::Found found = index.find_rows(p, src_keys[j]);
            match[src ? src[j] : j] = found.count == 0   ? Rows::kMissing
                                      : found.count == 1 ? found.first
                                                         : kSeveral | found.count;
        }
    });
    return match;
}

// Where each piece of left rows writes its output: start[c] for piece c, then the total.
struct Layout {
    std::vector<uint64_t> start;
    bool one_each = false;  // every left row gives exactly one output row
};

Layout lay_out(const uint64_t* match, uint64_t n, uint64_t grain, bool keep_unmatched) {
    const size_t pieces = pool::piece_count(n, grain);
    Layout out;
    out.start.assign(pieces + 1, 0);
    std::vector<uint64_t> singles(pieces);
    pool::parallel_for_pieces(n, grain, [&](size_t c, size_t b, size_t e) {
        uint64_t total = 0, single = 0;
        for (uint64_t l = b; l < e; ++l) {
            const uint64_t k = output_rows(match[l], keep_unmatched);
            total += k;
            single += k == 1;
        }
        out.start[c + 1] = total;
        singles[c] = single;
    });
    uint64_t single = 0;
    for (size_t c = 0; c < pieces; ++c) {
        out.start[c + 1] += out.start[c];
        single += singles[c];
    }
    out.one_each = single == n && out.start.back() == n;
    return out;
}

// Left and right row numbers of the output rows, in output order. When every left row gives
// exactly one output row, `left` stays empty: the left rows are 0 .. n-1.
struct Pairs {
    uint64_t count = 0;
    bool left_in_order = false;
    std::vector<uint64_t> left, right;
    uint64_t left_bound = 0, right_bound = 0;  // one past the largest row of each side
};

Pairs write_pairs(const uint64_t* match, const Layout& layout, const KeyIndex& index,
                  const uint32_t* left_keys, uint64_t n, uint64_t grain, bool keep_unmatched) {
    Pairs out;
    const uint64_t total = layout.start.back();
    out.count = total;
    out.left_in_order = layout.one_each;
    require_memory(total, 2 * sizeof(uint64_t));
    if (!out.left_in_order) out.left.resize(total);
    out.right.resize(total);
    std::vector<uint64_t> right_bound(layout.start.size() - 1);
    pool::parallel_for_pieces(n, grain, [&](size_t c, size_t b, size_t e) {
        uint64_t o = layout.start[c], bound = 0;
        uint64_t* left = out.left_in_order ? nullptr : out.left.data();
        uint64_t* right = out.right.data();
        for (uint64_t l = b; l < e; ++l) {
            const uint64_t m = match[l];
            if (!several(m)) {
                if (m != Rows::kMissing) {
                    bound = std::max(bound, m + 1);
                } else if (!keep_unmatched) {
                    continue;
                }
                if (left) left[o] = l;
                right[o++] = m;
                continue;
            }
            const std::span<const uint64_t> rows = index.repeated_rows(left_keys[l]);
            for (uint64_t r : rows) {
                left[o] = l;
                right[o++] = r;
            }
            bound = std::max(bound, rows.back() + 1);
        }
        right_bound[c] = bound;
    });
    out.left_bound = total == 0 ? 0 : out.left_in_order ? n : out.left.back() + 1;
    for (uint64_t b : right_bound) out.right_bound = std::max(out.right_bound, b);
    return out;
}

Pairs make_pairs(const uint32_t* left_keys, uint64_t n, const uint32_t* right_keys,
                 uint64_t right_n, bool keep_unmatched) {
    const Partitioning part = partitioning_for(n, right_n);
    const uint64_t room = KeyIndex::room(right_n, part) + 3 * Scratch::room<uint64_t>(n);
    require_memory(room, 1);
    Scratch scratch(room);
    const KeyIndex index(right_keys, right_n, part, scratch);
    const uint64_t* match = match_left_rows(index, left_keys, n, part, scratch);
    const uint64_t grain = row_grain(n, uint64_t{1} << 15);
    const Layout layout = lay_out(match, n, grain, keep_unmatched);
    return write_pairs(match, layout, index, left_keys, n, grain, keep_unmatched);
}

}  // namespace

Result<DataFrame> frame_join(const DataFrame& self, const DataFrame& other,
                             const std::string& left_on, const std::string& right_on,
                             const std::string& how) {
    const Series* left_key = self.columns.find(left_on);
    if (!left_key) return key_error("Column " + left_on + " not found in left DataFrame");
    const Series* right_key = other.columns.find(right_on);
    if (!right_key) return key_error("Column " + right_on + " not found in right DataFrame");
    const CoreArray& lk = left_key->data;
    const CoreArray& rk = right_key->data;
    if (lk.dtype != rk.dtype) return type_error("Join columns must have the same dtype");
    if (how != "inner" && how != "left") return value_error("Only 'inner' and 'left' joins are supported");
    const bool keep_unmatched = how == "left";

    // Int32 keys compare equal exactly when their bit patterns do, so both types index bits.
    Pairs pairs;
    if (is_table_numeric(lk.dtype)) {
        pairs = make_pairs(lk.data.as<uint32_t>(), lk.element_count(), rk.data.as<uint32_t>(),
                           rk.element_count(), keep_unmatched);
    }
    const uint64_t n = pairs.count;
    const Rows left_rows = pairs.left_in_order ? Rows::range(0, n)
                                               : Rows::list(std::move(pairs.left), pairs.left_bound);
    const Rows right_rows = Rows::list(std::move(pairs.right), pairs.right_bound, keep_unmatched);

    DataFrame out;
    out.row_count = n;
    out.columns.reserve(self.columns.size() + other.columns.size());
    for (const auto& [key, series] : self.columns) {
        Result<CoreArray> values = gather_values(key, series.data, left_rows);
        if (!values) return values.error();
        out.columns.insert_or_assign(key, Series{key, std::move(values).value(), Labels::range(n)});
    }
    for (const auto& [key, series] : other.columns) {
        if (key == right_on) continue;
        Result<CoreArray> values = gather_values(key, series.data, right_rows);
        if (!values) return values.error();
        std::string name = self.columns.find(key) ? key + "_y" : key;
        out.columns.insert_or_assign(std::move(name),
                                     Series{key, std::move(values).value(), Labels::range(n)});
    }
    return out;
}

}  // namespace tessra
