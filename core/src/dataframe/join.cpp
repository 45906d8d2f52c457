#include "dataframe/join.hpp"

#include <algorithm>
#include <bit>
#include <span>
#include <utility>
#include <vector>

#include "array/aligned_buffer.hpp"
#include "dataframe/rebuild.hpp"
#include "scheduler/pool.hpp"
#include "util/memory_limit.hpp"
#include "util/panic.hpp"

namespace tessra {

namespace {

// [0, n) cut into a few chunks per pool thread, none shorter than `min_size`.
struct Chunks {
    Chunks(uint64_t n, uint64_t min_size)
        : n(n), size(n <= min_size ? std::max<uint64_t>(n, 1) : pool::grain_for(n, 4, min_size)),
          count((n + size - 1) / size) {}
    uint64_t begin(uint64_t c) const { return c * size; }
    uint64_t end(uint64_t c) const { return std::min(n, (c + 1) * size); }

    uint64_t n, size, count;
};

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

// Key columns are split by key hash into 2^bits partitions, so that the work on one
// partition stays within a cache-sized part of the index.
struct Partitioning {
    explicit Partitioning(int bits) : bits(bits) {}
    static uint64_t hash(uint32_t key) { return uint64_t{key} * 0x9E3779B97F4A7C15ull; }
    size_t of(uint32_t key) const { return static_cast<size_t>((hash(key) >> 32) >> (32 - bits)); }
    size_t count() const { return size_t{1} << bits; }

    int bits;
};

// The rows 0 .. n-1 and their keys ordered by partition, rows ascending within each; `begin`
// holds where each partition starts, then n. Chunks count their rows per partition, then
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
    const Chunks ch(n, pool::kRowChunk);
    std::vector<uint64_t> cursor(ch.count * parts);  // [chunk][partition]
    pool::parallel_tasks(ch.count, [&](size_t c) {
        uint64_t* count = &cursor[c * parts];
        for (uint64_t i = ch.begin(c); i < ch.end(c); ++i) ++count[part.of(keys[i])];
    });
    uint64_t at = 0;
    for (size_t p = 0; p < parts; ++p) {
        out.begin[p] = at;
        for (uint64_t c = 0; c < ch.count; ++c) at += std::exchange(cursor[c * parts + p], at);
    }
    out.rows = scratch.take<uint64_t>(n);
    out.keys = scratch.take<uint32_t>(n);
    uint64_t* rows = out.rows;
    uint32_t* sorted_keys = out.keys;
    pool::parallel_tasks(ch.count, [&](size_t c) {
        uint64_t* next = &cursor[c * parts];
        for (uint64_t i = ch.begin(c); i < ch.end(c); ++i) {
            const uint32_t key = keys[i];
            const uint64_t at = next[part.of(key)]++;
            rows[at] = i;
            sorted_keys[at] = key;
        }
    });
    return out;
}

// The rows of the right key column grouped by key, each group's rows ascending, indexed
// partition by partition. Each partition's open-addressing table (load at most one half) is
// sized up front and stays within a cache-sized block of one shared allocation.
class KeyIndex {
public:
    KeyIndex(const uint32_t* keys, uint64_t n, const Partitioning& part, Scratch& scratch);
    // Scratch bytes an index of `n` rows may take: each table has at most 4 slots per row, or 2.
    static uint64_t room(uint64_t n, const Partitioning& part) {
        return Scratch::room<uint64_t>(n) + Scratch::room<uint32_t>(n) +
               Scratch::room<Slot>(4 * n + 2 * part.count());
    }

    // How many rows hold `key` in its partition, and the first of them.
    struct Found {
        uint64_t count = 0;
        uint64_t first = 0;
    };
    Found find_rows(size_t partition, uint32_t key) const {
        const Part& part = parts_[partition];
        const uint32_t group = find(part, key);
        if (group == kEmpty) return {};
        if (part.direct) return {1, group};
        // Without repeated keys group g is the partition's row g.
        if (part.start.empty()) return {1, rows_[part.begin + group]};
        return {part.start[group + 1] - part.start[group], rows_[part.start[group]]};
    }
    // The rows holding a key that find_rows() counted more than once, ascending.
    std::span<const uint64_t> repeated_rows(uint32_t key) const {
        const Part& part = parts_[part_.of(key)];
        const uint32_t group = find(part, key);
        return {rows_ + part.start[group], rows_ + part.start[group + 1]};
    }
    void prefetch(size_t partition, uint32_t key) const {
        const Part& part = parts_[partition];
        __builtin_prefetch(slots_ + part.slots + home(part, key));
    }

private:
    static constexpr uint32_t kEmpty = ~uint32_t{0};
    struct Slot {
        uint32_t key;
        uint32_t group;  // numbered in first-row order; kEmpty for a free slot
    };
    struct Part {
        uint64_t begin = 0;           // where the partition's rows start in rows_
        uint64_t slots = 0;           // where its table starts in slots_
        int bits = 1;                 // log2 of its table's size
        bool direct = false;          // its slots hold rows, not groups (all keys distinct)
        std::vector<uint64_t> start;  // with repeated keys only: where each group starts, then the end
    };

    // The partition took the hash's top bits; the slot takes the ones below them.
    uint64_t home(const Part& part, uint32_t key) const {
        return (part_.hash(key) << part_.bits) >> (64 - part.bits);
    }
    // Where `key` is, or the free slot that ends its probe sequence.
    Slot& probe(const Part& part, uint32_t key) const {
        const uint64_t mask = (uint64_t{1} << part.bits) - 1;
        Slot* slots = slots_ + part.slots;
        uint64_t i = home(part, key);
        while (slots[i].group != kEmpty && slots[i].key != key) i = (i + 1) & mask;
        return slots[i];
    }
    uint32_t find(const Part& part, uint32_t key) const { return probe(part, key).group; }

    Partitioning part_;
    std::vector<Part> parts_;
    uint64_t* rows_;  // grouped rows, partition by partition
    Slot* slots_;
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
    for (size_t p = 0; p < parts_.size(); ++p) {
        const uint64_t rows = by_part.begin[p + 1] - by_part.begin[p];
        parts_[p].begin = by_part.begin[p];
        parts_[p].slots = slots;
        parts_[p].bits = std::max(1, static_cast<int>(std::bit_width(rows)) + 1);
        slots += uint64_t{1} << parts_[p].bits;
    }
    slots_ = scratch.take<Slot>(slots);
    pool::parallel_tasks(parts_.size(), [&](size_t p) {
        Part& part = parts_[p];
        const uint64_t b = part.begin, e = by_part.begin[p + 1];
        Slot* table = slots_ + part.slots;
        std::fill_n(table, uint64_t{1} << part.bits, Slot{0, kEmpty});
        uint32_t groups = 0;
        for (uint64_t j = b; j < e; ++j) {
            const uint32_t key = part_keys[j];
            Slot& slot = probe(part, key);
            if (slot.group == kEmpty) slot = {key, groups++};
        }
        // Groups are numbered in row order, so rows with distinct keys are in place already;
        // a row small enough to sit in the slot spares the lookup a second cache miss.
        if (groups == e - b) {
            if (n >= kEmpty) return;
            for (uint64_t i = 0; i < (uint64_t{1} << part.bits); ++i)
                if (table[i].group != kEmpty) table[i].group = static_cast<uint32_t>(rows_[b + table[i].group]);
            part.direct = true;
            return;
        }
        std::vector<uint64_t>& start = part.start;
        start.assign(groups + 1, 0);
        for (uint64_t j = b; j < e; ++j) ++start[find(part, part_keys[j]) + 1];
        start[0] = b;
        for (uint32_t g = 0; g < groups; ++g) start[g + 1] += start[g];
        const std::vector<uint64_t> src(rows_ + b, rows_ + e);
        std::vector<uint64_t> next(start.begin(), start.end() - 1);
        for (uint64_t j = b; j < e; ++j) rows_[next[find(part, part_keys[j])]++] = src[j - b];
    });
}

// Left and right row numbers of the output rows, in output order. When every left row gives
// exactly one output row, `left` stays empty: the left rows are 0 .. n-1.
struct Pairs {
    uint64_t count = 0;
    bool left_in_order = false;
    std::vector<uint64_t> left, right;
    uint64_t left_bound = 0, right_bound = 0;  // one past the largest row of each side
};

Pairs make_pairs(const uint32_t* left_keys, uint64_t n, const uint32_t* right_keys,
                 uint64_t right_n, bool keep_unmatched) {
    // About 8K right rows per partition keep a partition's map and rows in cache.
    const uint64_t larger = std::max(n, right_n);
    const Partitioning part(larger < (1 << 14) ? 0 : std::bit_width(std::min<uint64_t>(larger >> 13, 1024)) - 1);
    const uint64_t room = KeyIndex::room(right_n, part) + 3 * Scratch::room<uint64_t>(n);
    require_memory(room, 1);
    Scratch scratch(room);
    const KeyIndex index(right_keys, right_n, part, scratch);

    // Each left row's match, found partition by partition: kMissing for none, the right row
    // for one, kSeveral with the number of rows for more (looked up again when written).
    constexpr uint64_t kSeveral = uint64_t{1} << 63;
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
    auto several = [&](uint64_t m) { return m != Rows::kMissing && (m & kSeveral); };

    // Then the size of each chunk's output, and each chunk writes from its own start.
    const Chunks ch(n, uint64_t{1} << 15);
    std::vector<uint64_t> start(ch.count + 1), singles(ch.count);
    pool::parallel_tasks(ch.count, [&](size_t c) {
        uint64_t total = 0, single = 0;
        for (uint64_t l = ch.begin(c); l < ch.end(c); ++l) {
            const uint64_t m = match[l];
            const uint64_t k = m == Rows::kMissing ? uint64_t{keep_unmatched} : several(m) ? m & ~kSeveral : 1;
            total += k;
            single += k == 1;
        }
        start[c + 1] = total;
        singles[c] = single;
    });
    uint64_t single = 0;
    for (uint64_t c = 0; c < ch.count; ++c) {
        start[c + 1] += start[c];
        single += singles[c];
    }

    Pairs out;
    const uint64_t total = start[ch.count];
    out.count = total;
    out.left_in_order = single == n && total == n;
    require_memory(total, 2 * sizeof(uint64_t));
    if (!out.left_in_order) out.left.resize(total);
    out.right.resize(total);
    std::vector<uint64_t> right_bound(ch.count);
    pool::parallel_tasks(ch.count, [&](size_t c) {
        uint64_t o = start[c], bound = 0;
        uint64_t* left = out.left_in_order ? nullptr : out.left.data();
        uint64_t* right = out.right.data();
        for (uint64_t l = ch.begin(c); l < ch.end(c); ++l) {
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
