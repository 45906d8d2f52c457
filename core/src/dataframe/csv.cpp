#include "dataframe/csv.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "array/aligned_buffer.hpp"
#include "dataframe/csv_number.hpp"
#include "dataframe/csv_scan.hpp"
#include "dataframe/csv_source.hpp"
#include "dataframe/csv_utf8.hpp"
#include "scheduler/pool.hpp"

namespace tessra {

namespace {

using csv::ScanStatus;
static_assert(csv::kTextPad >= csv::kNumberPad);

// Text held in memory at once (more only while one read is longer). One buffer serves the
// whole file, so fresh pages are paid for once.
constexpr size_t kWindow = size_t{16} << 20;
constexpr size_t kFirstPipeRead = size_t{64} << 10;
// Smallest stretch of a window worth a task of its own.
constexpr size_t kChunkMin = size_t{512} << 10;
// Fewer values than this are moved into the columns on the calling thread.
constexpr size_t kParallelAppend = size_t{1} << 18;

// ---------------------------------------------------------------------------------------
// Text

// File text from file offset base() on, with csv::kTextPad spare bytes on both sides;
// refills drop what the reader has passed.
class TextBuffer {
public:
    explicit TextBuffer(csv::FileSource& src) : src_(src) {
        uint64_t hint = src.size_hint();
        cap_ = hint ? static_cast<size_t>(std::min<uint64_t>(hint + 1, kWindow)) : kFirstPipeRead;
        mem_ = AlignedBuffer::zeroed(cap_ + 2 * csv::kTextPad);
    }

    const char* data() const { return mem_.as<char>() + csv::kTextPad; }
    size_t size() const { return len_; }
    uint64_t base() const { return base_; }
    // The text ends for good at size().
    bool final() const { return src_.at_end(); }
    int error() const { return src_.error(); }

    // Drops the bytes before `keep` and reads more behind the rest. False when nothing new
    // arrived and the end was not reached: a read error.
    bool refill(size_t keep) {
        char* mem = mem_.as<char>() + csv::kTextPad;
        if (keep) {
            std::memmove(mem, mem + keep, len_ - keep);
            len_ -= keep;
            base_ += keep;
        }
        if (src_.at_end()) return true;
        if (src_.error()) return false;
        size_t want = len_ == cap_ ? cap_ * 2 : std::max(cap_, std::min(cap_ * 2, kWindow));
        if (want != cap_) {
            AlignedBuffer grown = AlignedBuffer::zeroed(want + 2 * csv::kTextPad);
            std::memcpy(grown.as<char>() + csv::kTextPad, mem, len_);
            mem_ = std::move(grown);
            mem = mem_.as<char>() + csv::kTextPad;
            cap_ = want;
        }
        size_t got = src_.read(mem + len_, cap_ - len_);
        len_ += got;
        return got > 0 || src_.at_end();
    }

private:
    csv::FileSource& src_;
    AlignedBuffer mem_;
    size_t cap_ = 0;
    size_t len_ = 0;
    uint64_t base_ = 0;
};

// ---------------------------------------------------------------------------------------
// Records

// First field of a record that is not valid UTF-8.
struct Utf8Fault {
    bool found = false;
    uint64_t field = 0;
    uint64_t valid_up_to = 0;

    void check(uint64_t field_index, const char* b, const char* e) {
        if (found) return;
        size_t len = static_cast<size_t>(e - b);
        size_t k = csv::utf8_valid_up_to(reinterpret_cast<const unsigned char*>(b), len);
        if (k != len) *this = {true, field_index, k};
    }
};

struct HeaderSink {
    std::vector<std::string>& names;
    Utf8Fault utf8;

    void field(const char* b, const char* e, bool high) {
        if (high) utf8.check(names.size(), b, e);
        names.emplace_back(b, e);
    }
};

// Row-major values, grown in large steps straight from the kernel.
class FloatRows {
public:
    void clear(size_t capacity) {
        size_ = 0;
        if (capacity > cap_) {
            buf_ = AlignedBuffer::uninit(capacity * sizeof(float));
            cap_ = capacity;
        }
    }
    // Space for `n` more values, kept only once committed.
    float* room(size_t n) {
        if (size_ + n > cap_) {
            size_t want = std::max(cap_ * 2, size_ + n);
            AlignedBuffer grown = AlignedBuffer::uninit(want * sizeof(float));
            if (size_) std::memcpy(grown.as<float>(), buf_.as<float>(), size_ * sizeof(float));
            buf_ = std::move(grown);
            cap_ = want;
        }
        return buf_.as<float>() + size_;
    }
    void commit(size_t n) { size_ += n; }
    const float* data() const { return buf_.as<float>(); }

private:
    AlignedBuffer buf_;
    size_t size_ = 0;
    size_t cap_ = 0;
};

struct RowSink {
    size_t n;
    float* row;  // room for n values
    size_t count = 0;
    Utf8Fault utf8;

    void field(const char* b, const char* e, bool high) {
        if (high) utf8.check(count, b, e);
        // Non-ASCII text is never a number.
        if (count < n) row[count] = high ? csv::missing_value() : csv::parse_f32_padded(b, e);
        ++count;
    }
};

struct RecordFault {
    uint64_t fields = 0;  // the record's field count
    Utf8Fault utf8;       // what was wrong when the count was right
};

// The reads that begin in [begin, limit) of the window, parsed by one task. A chunk other
// than a window's first starts at a guessed record boundary; it stands only if the chunk
// before it ends exactly there.
struct Chunk {
    size_t begin = 0;
    size_t limit = 0;
    size_t end = 0;  // where the next read begins; at a fault, where the faulty one began
    ScanStatus stop = ScanStatus::Record;
    uint64_t records = 0;
    FloatRows values;  // records x n, row by row
    std::optional<RecordFault> fault;
    uint64_t line_feeds = 0;  // LF bytes in [begin, end)
};

void parse_chunk(const char* data, size_t size, bool final, size_t n, Chunk& c) {
    c.values.clear((c.limit - c.begin) / 4 + n);
    c.records = 0;
    c.fault.reset();
    c.stop = ScanStatus::Record;
    csv::FieldScratch scratch;
    const char* p = data + c.begin;
    const char* limit = data + c.limit;
    const char* end = data + size;
    while (p < limit) {
        const char* start = p;
        RowSink sink{n, c.values.room(n), 0, {}};
        ScanStatus s = csv::scan_record(p, end, final, scratch, sink);
        if (s != ScanStatus::Record) {
            c.stop = s;
            break;
        }
        if (sink.count != n || sink.utf8.found) {
            c.fault = RecordFault{sink.count, sink.utf8};
            p = start;
            break;
        }
        c.values.commit(n);
        ++c.records;
    }
    c.end = static_cast<size_t>(p - data);
    c.line_feeds = static_cast<uint64_t>(std::count(data + c.begin, p, '\n'));
}

// Where a read would begin right after some record: past a terminator that follows a
// non-terminator. Exact outside quoted fields, which is all a guess needs.
size_t next_boundary(const char* data, size_t from, size_t size) {
    for (size_t i = std::max<size_t>(from, 1); i < size; ++i)
        if (csv::is_terminator(data[i]) && !csv::is_terminator(data[i - 1])) return i + 1;
    return size;
}

// Splits [pos, size) into chunks, reusing the objects (and their storage) of earlier windows.
void plan_chunks(const char* data, size_t pos, size_t size, std::vector<Chunk>& chunks) {
    size_t span = size - pos;
    size_t count = 1;
    if (span >= 2 * kChunkMin) count = std::min(pool::thread_count() * 4, span / kChunkMin);
    size_t used = 0;
    auto add = [&](size_t begin, size_t limit) {
        if (used == chunks.size()) chunks.emplace_back();
        chunks[used].begin = begin;
        chunks[used].limit = limit;
        ++used;
    };
    size_t begin = pos;
    for (size_t k = 1; k < count; ++k) {
        size_t cut = next_boundary(data, std::max(pos + span / count * k, begin + 1), size);
        if (cut >= size) break;
        add(begin, cut);
        begin = cut;
    }
    add(begin, size);
    chunks.resize(used);
}

// ---------------------------------------------------------------------------------------
// Columns

// Large fresh columns fault in far fewer pages with transparent huge pages.
void advise_huge_pages([[maybe_unused]] void* p, [[maybe_unused]] size_t bytes) {
#if defined(MADV_HUGEPAGE)
    if (bytes < (size_t{4} << 20)) return;
    const uintptr_t page = 4096;
    uintptr_t b = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    uintptr_t e = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(page - 1);
    if (e > b) madvise(reinterpret_cast<void*>(b), e - b, MADV_HUGEPAGE);
#endif
}

// Walks one column of row-major values.
class ColumnIter {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = float;
    using difference_type = std::ptrdiff_t;
    using pointer = const float*;
    using reference = const float&;

    ColumnIter(const float* p, size_t stride) : p_(p), stride_(static_cast<difference_type>(stride)) {}
    reference operator*() const { return *p_; }
    reference operator[](difference_type i) const { return p_[i * stride_]; }
    ColumnIter& operator++() {
        p_ += stride_;
        return *this;
    }
    ColumnIter operator++(int) {
        ColumnIter old = *this;
        p_ += stride_;
        return old;
    }
    ColumnIter& operator--() {
        p_ -= stride_;
        return *this;
    }
    ColumnIter operator--(int) {
        ColumnIter old = *this;
        p_ -= stride_;
        return old;
    }
    ColumnIter& operator+=(difference_type d) {
        p_ += d * stride_;
        return *this;
    }
    ColumnIter& operator-=(difference_type d) {
        p_ -= d * stride_;
        return *this;
    }
    friend ColumnIter operator+(ColumnIter a, difference_type d) { return a += d; }
    friend ColumnIter operator+(difference_type d, ColumnIter a) { return a += d; }
    friend ColumnIter operator-(ColumnIter a, difference_type d) { return a -= d; }
    friend difference_type operator-(const ColumnIter& a, const ColumnIter& b) {
        return (a.p_ - b.p_) / a.stride_;
    }
    friend auto operator<=>(const ColumnIter& a, const ColumnIter& b) { return a.p_ <=> b.p_; }
    friend bool operator==(const ColumnIter& a, const ColumnIter& b) { return a.p_ == b.p_; }

private:
    const float* p_;
    difference_type stride_;
};

// Room in every column for the rows of the first window and, at the rate seen there, for
// those in the `rest` bytes still to come, so the columns rarely move.
void reserve_columns(std::vector<std::vector<float>>& columns, uint64_t rows, uint64_t bytes,
                     uint64_t rest) {
    uint64_t expect = rows;
    if (rest && rows && bytes) {
        double more = static_cast<double>(rows) * static_cast<double>(rest) / static_cast<double>(bytes);
        expect += static_cast<uint64_t>(more * 1.03) + 16;
    }
    for (auto& col : columns) {
        col.reserve(expect);
        advise_huge_pages(col.data(), col.capacity() * sizeof(float));
    }
}

// Appends the rows of the given chunks to the columns, in order.
void append_rows(const std::vector<const Chunk*>& parts, size_t n, uint64_t count,
                 std::vector<std::vector<float>>& columns) {
    auto append_column = [&](size_t i) {
        std::vector<float>& col = columns[i];
        if (col.capacity() < col.size() + count) col.reserve(std::max(col.size() + count, col.capacity() * 2));
        for (const Chunk* c : parts) {
            const float* v = c->values.data() + i;
            col.insert(col.end(), ColumnIter(v, n), ColumnIter(v + c->records * n, n));
        }
    };
    if (count * n < kParallelAppend) {
        for (size_t i = 0; i < n; ++i) append_column(i);
    } else {
        pool::parallel_tasks(n, append_column);
    }
}

// ---------------------------------------------------------------------------------------
// Error texts

std::string utf8_text(uint64_t record, uint64_t line, uint64_t byte, const Utf8Fault& f) {
    std::string field = std::to_string(f.field);
    return "CSV parse error: record " + std::to_string(record) + " (line " + std::to_string(line) +
           ", field: " + field + ", byte: " + std::to_string(byte) +
           "): invalid utf-8: invalid UTF-8 in field " + field + " near byte index " +
           std::to_string(f.valid_up_to);
}

std::string count_text(uint64_t record, uint64_t line, uint64_t byte, uint64_t fields,
                       uint64_t expected) {
    return "CSV error: record " + std::to_string(record) + " (line: " + std::to_string(line) +
           ", byte: " + std::to_string(byte) + "): found record with " + std::to_string(fields) +
           " fields, but the previous record has " + std::to_string(expected) + " fields";
}

}  // namespace

Result<CsvColumns> read_csv_columns(const std::string& path) {
    auto opened = csv::FileSource::open(path);
    if (!opened) return io_error("Failed to open file: " + opened.error().message);
    csv::FileSource src = std::move(opened).value();
    TextBuffer text(src);
    CsvColumns out;

    // The header. A byte-order mark is dropped from the start of the file, but byte offsets
    // still count it.
    auto header_failure = [&] {
        return value_error("Failed to read headers: " + csv::os_error_text(text.error()));
    };
    if (!text.refill(0)) return header_failure();
    const char* cursor = nullptr;
    for (csv::FieldScratch scratch;;) {
        bool bom = text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0;
        cursor = text.data() + (bom ? 3 : 0);
        HeaderSink sink{out.headers, {}};
        ScanStatus s = csv::scan_record(cursor, text.data() + text.size(), text.final(), scratch, sink);
        if (s == ScanStatus::End) return out;
        if (s == ScanStatus::Record) {
            if (sink.utf8.found)
                return value_error("Failed to read headers: " + utf8_text(0, 1, 0, sink.utf8));
            break;
        }
        out.headers.clear();
        if (!text.refill(0)) return header_failure();
    }

    // The records, window by window: chunks of a window are parsed in parallel, checked to
    // join up in file order, and their rows appended to the columns.
    const size_t n = out.headers.size();
    out.columns.resize(n);
    size_t pos = static_cast<size_t>(cursor - text.data());
    uint64_t records = 1;  // the header is record 0
    uint64_t line_feeds = static_cast<uint64_t>(std::count(text.data(), cursor, '\n'));
    std::vector<Chunk> chunks;
    std::vector<const Chunk*> parts;
    bool reserved = false;
    for (;;) {
        const char* data = text.data();
        const size_t size = text.size();
        const bool final = text.final();
        plan_chunks(data, pos, size, chunks);
        if (chunks.size() == 1)
            parse_chunk(data, size, final, n, chunks[0]);
        else
            pool::parallel_tasks(chunks.size(), [&](size_t k) { parse_chunk(data, size, final, n, chunks[k]); });

        bool done = false;
        size_t at = pos;
        uint64_t window_rows = 0;
        parts.clear();
        for (Chunk& c : chunks) {
            if (c.begin != at) {  // the guessed start was wrong: read on from the true one
                c.begin = at;
                c.limit = std::max(c.limit, at);
                parse_chunk(data, size, final, n, c);
            }
            if (c.fault) {
                uint64_t record = records + c.records;
                uint64_t line = 1 + line_feeds + c.line_feeds;
                uint64_t byte = text.base() + c.end;
                const RecordFault& f = *c.fault;
                return value_error("Failed to read record: " +
                                   (f.fields != n ? count_text(record, line, byte, f.fields, n)
                                                  : utf8_text(record, line, byte, f.utf8)));
            }
            records += c.records;
            window_rows += c.records;
            line_feeds += c.line_feeds;
            at = c.end;
            if (c.records) parts.push_back(&c);
            if (c.stop == ScanStatus::End) done = true;
            if (c.stop != ScanStatus::Record) break;
        }
        if (!reserved) {
            reserved = true;
            uint64_t seen = text.base() + at;
            uint64_t rest = !final && src.size_hint() > seen ? src.size_hint() - seen : 0;
            reserve_columns(out.columns, window_rows, at - pos, rest);
        }
        append_rows(parts, n, window_rows, out.columns);
        out.rows += window_rows;
        if (done || (at == size && final)) break;

        pos = 0;
        if (!text.refill(at))
            return value_error("Failed to read record: " + csv::os_error_text(text.error()));
        }
    return out;
}

}  // namespace tessra
