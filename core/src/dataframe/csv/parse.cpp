#include "dataframe/csv/parse.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "dataframe/csv/cell.hpp"
#include "dataframe/csv/number.hpp"
#include "dataframe/csv/scan.hpp"
#include "dataframe/csv/source.hpp"
#include "scheduler/pool.hpp"
#include "util/utf8.hpp"

namespace tessra::csv {

namespace {

static_assert(kTextPad >= kNumberPad);

// CSV text per parse task (512 KiB, ~0.5 ms). Tasks guess where their records start and a wrong
// guess costs a serial re-read, so there are four per thread: enough to even out, few guesses.
constexpr size_t kCsvChunkMin = size_t{512} << 10;

// Text held in memory at once (more only while one read is longer than this).
constexpr size_t kWindow = size_t{16} << 20;
constexpr size_t kFirstPipeRead = size_t{64} << 10;

// ---------------------------------------------------------------------------------------
// Text

// File text from file offset base() on, with kTextPad spare bytes on both sides; refills
// drop what the reader has passed.
class TextBuffer {
public:
    explicit TextBuffer(FileSource& src) : src_(src) {
        uint64_t hint = src.size_hint();  // one byte more, to meet the end in the first read
        allocate(hint ? static_cast<size_t>(std::min<uint64_t>(hint + 1, kWindow))
                      : kFirstPipeRead);
    }

    const char* data() const { return mem_.get() + kTextPad; }
    size_t size() const { return len_; }
    uint64_t base() const { return base_; }
    // The text ends for good at size().
    bool final() const { return src_.at_end(); }
    int error() const { return src_.error(); }

    // Drops the bytes before `keep` and reads more behind the rest. False when nothing new
    // arrived and the end was not reached: a read error.
    bool refill(size_t keep) {
        char* text = mem_.get() + kTextPad;
        if (keep) {
            std::memmove(text, text + keep, len_ - keep);
            len_ -= keep;
            base_ += keep;
        }
        if (src_.at_end()) return true;
        if (src_.error()) return false;
        size_t want = len_ == cap_ ? cap_ * 2 : std::max(cap_, std::min(cap_ * 2, kWindow));
        if (want != cap_) {
            std::unique_ptr<char[]> old = std::move(mem_);
            allocate(want);
            text = mem_.get() + kTextPad;
            std::memcpy(text, old.get() + kTextPad, len_);
        }
        size_t got = src_.read(text + len_, cap_ - len_);
        len_ += got;
        return got > 0 || src_.at_end();
    }

private:
    void allocate(size_t cap) {
        cap_ = cap;
        mem_ = std::make_unique_for_overwrite<char[]>(cap + 2 * kTextPad);
        std::memset(mem_.get(), 0, kTextPad);
        std::memset(mem_.get() + kTextPad + cap, 0, kTextPad);
    }

    FileSource& src_;
    std::unique_ptr<char[]> mem_;
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
        size_t k = utf8_valid_up_to(reinterpret_cast<const unsigned char*>(b), len);
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

// The values of one chunk, column by column: `n` runs of room for `capacity` rows each, in a
// share of the window's value store, moving to storage of its own if the rows outgrow it.
class ChunkColumns {
public:
    void reset(float* share, size_t floats, size_t n) {
        own_ = AlignedBuffer();
        data_ = share;
        n_ = n;
        capacity_ = floats / n;
        rows_ = 0;
    }
    void clear() { rows_ = 0; }
    // Where the next row's first value goes; the others follow stride() apart.
    float* next_row() {
        if (rows_ == capacity_) grow();
        return data_ + rows_;
    }
    void commit() { ++rows_; }
    size_t stride() const { return capacity_; }
    const float* data() const { return data_; }
    // Hands over the storage of its own, if any, to outlive the chunk.
    void keep_storage(std::vector<AlignedBuffer>& storage) {
        if (own_.size()) storage.push_back(std::move(own_));
    }

private:
    void grow() {
        size_t more = std::max<size_t>(capacity_ * 2, 64);
        auto grown = AlignedBuffer::uninit(more * n_ * sizeof(float));
        for (size_t i = 0; i < n_; ++i)
            std::memcpy(grown.as<float>() + i * more, data_ + i * capacity_, rows_ * sizeof(float));
        own_ = std::move(grown);
        data_ = own_.as<float>();
        capacity_ = more;
    }

    float* data_ = nullptr;
    size_t n_ = 1;
    size_t capacity_ = 0;
    size_t rows_ = 0;
    AlignedBuffer own_;
};

struct RowSink {
    size_t n;
    float* slot;    // where the value of field `count` goes
    size_t stride;  // from one field's slot to the next
    size_t count = 0;
    Utf8Fault utf8;

    void put(float v) {
        if (count < n) {
            *slot = v;
            slot += stride;
        }
        ++count;
    }

    void field(const char* b, const char* e, bool high) {
        if (high) utf8.check(count, b, e);
        // Non-ASCII text is never a number.
        put(high ? missing_value() : parse_f32_padded(b, e));
    }

    const char* plain_field(const char* p, const char* end) {
        float v;
        bool high;
        const char* stop = parse_cell(p, end, v, high);
        if (stop == nullptr) {
            unsigned seen = 0;
            stop = find_stop(p, end, seen);
            field(p, stop, (seen & 0x80) != 0);
            return stop;
        }
        if (high) utf8.check(count, p, stop);
        put(v);
        return stop;
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
    ChunkColumns values;
    std::optional<RecordFault> fault;
    uint64_t line_feeds = 0;  // LF bytes in [begin, end)
};

// Room a chunk's values get in the window's store: enough for two bytes a value.
size_t share_of(const Chunk& c, size_t n) { return (c.limit - c.begin) / 2 + n; }

void parse_chunk(const char* data, size_t size, bool final, size_t n, Chunk& c) {
    c.values.clear();
    c.records = 0;
    c.fault.reset();
    c.stop = ScanStatus::Record;
    FieldScratch scratch;
    const char* p = data + c.begin;
    const char* limit = data + c.limit;
    const char* end = data + size;
    while (p < limit) {
        const char* start = p;
        RowSink sink{n, c.values.next_row(), c.values.stride(), 0, {}};
        ScanStatus s = scan_record(p, end, final, scratch, sink);
        if (s != ScanStatus::Record) {
            c.stop = s;
            break;
        }
        if (sink.count != n || sink.utf8.found) {
            c.fault = RecordFault{sink.count, sink.utf8};
            p = start;
            break;
        }
        c.values.commit();
        ++c.records;
    }
    c.end = static_cast<size_t>(p - data);
    c.line_feeds = count_line_feeds(data + c.begin, p);
}

// Where a read would begin right after some record: past a terminator that follows a
// non-terminator. Exact outside quoted fields, which is all a guess needs.
size_t next_boundary(const char* data, size_t from, size_t size) {
    for (size_t i = std::max<size_t>(from, 1); i < size; ++i)
        if (is_terminator(data[i]) && !is_terminator(data[i - 1])) return i + 1;
    return size;
}

// Splits [pos, size) into chunks, reusing the objects of earlier windows; returns the count.
size_t plan_chunks(const char* data, size_t pos, size_t size, std::vector<Chunk>& chunks) {
    size_t span = size - pos;
    size_t count = std::max<size_t>(1, span / pool::grain_for(span, 4, kCsvChunkMin));
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
    return used;
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

Result<ParsedCsv> parse_csv_file(const std::string& path) {
    auto opened = FileSource::open(path);
    if (!opened) return io_error("Failed to open file: " + opened.error().message);
    FileSource src = std::move(opened).value();
    TextBuffer text(src);
    ParsedCsv out;

    // The header. A byte-order mark is dropped from the start of the file, but byte offsets
    // still count it.
    auto header_failure = [&] {
        return value_error("Failed to read headers: " + os_error_text(text.error()));
    };
    if (!text.refill(0)) return header_failure();
    const char* cursor = nullptr;
    for (FieldScratch scratch;;) {
        bool bom = text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0;
        cursor = text.data() + (bom ? 3 : 0);
        HeaderSink sink{out.headers, {}};
        ScanStatus s = scan_record(cursor, text.data() + text.size(), text.final(), scratch, sink);
        if (s == ScanStatus::End) return out;
        if (s == ScanStatus::Record) {
            if (sink.utf8.found)
                return value_error("Failed to read headers: " + utf8_text(0, 1, 0, sink.utf8));
            break;
        }
        out.headers.clear();
        if (!text.refill(0)) return header_failure();
    }

    // The records, window by window: the chunks of a window are parsed in parallel, then
    // checked in file order to join up.
    const size_t n = out.headers.size();
    size_t pos = static_cast<size_t>(cursor - text.data());
    uint64_t records = 1;  // the header is record 0
    uint64_t line_feeds = count_line_feeds(text.data(), cursor);
    std::vector<Chunk> chunks;
    for (;;) {
        const char* data = text.data();
        const size_t size = text.size();
        const bool final = text.final();
        const size_t count = plan_chunks(data, pos, size, chunks);
        size_t floats = 0;
        for (size_t k = 0; k < count; ++k) floats += share_of(chunks[k], n);
        // Only the pages written are ever mapped, so generous shares cost little; the
        // allocator's large mappings take huge pages and are reused from call to call, which
        // spares most page faults.
        auto store = AlignedBuffer::uninit(floats * sizeof(float));
        float* share = store.as<float>();
        for (size_t k = 0; k < count; ++k) {
            chunks[k].values.reset(share, share_of(chunks[k], n), n);
            share += share_of(chunks[k], n);
        }
        auto parse = [&](size_t k) { parse_chunk(data, size, final, n, chunks[k]); };
        pool::parallel_tasks(count, parse);

        bool done = false;
        size_t at = pos;
        for (size_t k = 0; k < count; ++k) {
            Chunk& c = chunks[k];
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
            line_feeds += c.line_feeds;
            at = c.end;
            if (c.records) {
                out.pieces.push_back({c.values.data(), c.values.stride(), c.records});
                out.rows += c.records;
                c.values.keep_storage(out.storage);
            }
            if (c.stop == ScanStatus::End) done = true;
            if (c.stop != ScanStatus::Record) break;
        }
        out.storage.push_back(std::move(store));
        if (done || (at == size && final)) break;
        pos = 0;
        if (!text.refill(at))
            return value_error("Failed to read record: " + os_error_text(text.error()));
    }
    return out;
}

}  // namespace tessra::csv
