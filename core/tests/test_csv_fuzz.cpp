// Random CSV text read by the reader and by a plain reference reader written from the
// reader's rules alone (one byte at a time, no chunks, no windows, strtof for numbers); both
// must give the same headers, the same value bits and the same error text.
//
// FUZZ_CASES and FUZZ_SEED (environment) set the number of cases and the first seed; case k
// uses seed FUZZ_SEED + k, so a failure names the one seed that repeats it.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "csv_files.hpp"
#include "dataframe/csv/reader.hpp"

using namespace tessra;

namespace {

// ---------------------------------------------------------------------------------------
// The reference reader

constexpr uint32_t kMissing = 0x7FC00000u;

// Length of the longest valid UTF-8 prefix of s.
size_t utf8_prefix(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
        unsigned c = at(i);
        size_t len;
        unsigned lo = 0x80, hi = 0xBF;  // range of the first continuation byte
        if (c < 0x80) {
            len = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;  // no overlong forms
            if (c == 0xED) hi = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
        } else {
            return i;
        }
        if (i + len > s.size()) return i;
        for (size_t k = 1; k < len; ++k) {
            unsigned b = at(i + k);
            unsigned min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
            if (b < min || b > max) return i;
        }
        i += len;
    }
    return i;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equal_nocase(const std::string& s, size_t from, const char* word) {
    std::string w(word);
    if (s.size() - from != w.size()) return false;
    for (size_t k = 0; k < w.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(s[from + k])) != w[k]) return false;
    return true;
}

// The cell's value: a decimal literal rounded by the C library, or the missing value.
uint32_t reference_number(const std::string& s) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    uint32_t sign = negative ? 0x80000000u : 0;
    if (equal_nocase(s, i, "inf") || equal_nocase(s, i, "infinity")) return sign | 0x7F800000u;
    if (equal_nocase(s, i, "nan")) return sign | 0x7FC00000u;
    size_t digits = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return kMissing;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t exp_digits = 0;
        while (i < s.size() && is_digit(s[i])) ++i, ++exp_digits;
        if (exp_digits == 0) return kMissing;
    }
    if (i != s.size()) return kMissing;
    return std::bit_cast<uint32_t>(std::strtof(s.c_str(), nullptr));
}

struct Record {
    std::vector<std::string> fields;
    uint64_t byte = 0;  // where the read of the record began, blank lines included
    uint64_t line = 0;
};

class ReferenceReader {
public:
    explicit ReferenceReader(const std::string& text) : t_(text) {
        if (t_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
    }

    bool next(Record& r) {
        r.fields.clear();
        r.byte = pos_;
        r.line = 1 + line_feeds_;
        while (pos_ < t_.size() && is_term(t_[pos_])) take();
        if (pos_ == t_.size()) return false;
        for (;;) {
            std::string field;
            if (t_[pos_] == '"') {
                take();
                while (pos_ < t_.size()) {
                    char c = take();
                    if (c != '"') {
                        field += c;
                    } else if (pos_ < t_.size() && t_[pos_] == '"') {
                        field += take();
                    } else {
                        break;
                    }
                }
            }
            // Unquoted text, or what follows a closing quote: quotes are plain here.
            while (pos_ < t_.size() && t_[pos_] != ',' && !is_term(t_[pos_])) field += take();
            r.fields.push_back(std::move(field));
            if (pos_ == t_.size()) return true;
            if (take() != ',') return true;
            if (pos_ == t_.size()) {
                r.fields.emplace_back();
                return true;
            }
        }
    }

private:
    static bool is_term(char c) { return c == '\n' || c == '\r'; }
    char take() {
        char c = t_[pos_++];
        if (c == '\n') ++line_feeds_;
        return c;
    }

    const std::string& t_;
    size_t pos_ = 0;
    uint64_t line_feeds_ = 0;
};

struct Outcome {
    bool ok = true;
    ErrorKind kind = ErrorKind::Value;
    std::string message;
    std::vector<std::string> headers;
    std::vector<std::vector<uint32_t>> rows;

    bool operator==(const Outcome&) const = default;
};

Outcome failure(std::string message) {
    return {false, ErrorKind::Value, std::move(message), {}, {}};
}

// The first field that is not UTF-8, as the error text names it; empty when all are.
std::string utf8_fault(const Record& r, uint64_t record) {
    for (size_t f = 0; f < r.fields.size(); ++f) {
        size_t valid = utf8_prefix(r.fields[f]);
        if (valid == r.fields[f].size()) continue;
        std::string field = std::to_string(f);
        return "CSV parse error: record " + std::to_string(record) + " (line " +
               std::to_string(r.line) + ", field: " + field + ", byte: " + std::to_string(r.byte) +
               "): invalid utf-8: invalid UTF-8 in field " + field + " near byte index " +
               std::to_string(valid);
    }
    return {};
}

Outcome reference_read(const std::string& text) {
    ReferenceReader reader(text);
    Outcome out;
    Record r;
    if (!reader.next(r)) return out;
    r.line = 1;  // the header's position is always the start of the file
    r.byte = 0;
    if (std::string fault = utf8_fault(r, 0); !fault.empty())
        return failure("Failed to read headers: " + fault);
    out.headers = r.fields;
    const size_t n = out.headers.size();
    for (uint64_t record = 1; reader.next(r); ++record) {
        if (r.fields.size() != n)
            return failure("Failed to read record: CSV error: record " + std::to_string(record) +
                           " (line: " + std::to_string(r.line) +
                           ", byte: " + std::to_string(r.byte) + "): found record with " +
                           std::to_string(r.fields.size()) +
                           " fields, but the previous record has " + std::to_string(n) + " fields");
        if (std::string fault = utf8_fault(r, record); !fault.empty())
            return failure("Failed to read record: " + fault);
        std::vector<uint32_t> row;
        for (const std::string& f : r.fields) row.push_back(reference_number(f));
        out.rows.push_back(std::move(row));
    }
    return out;
}

Outcome outcome_of(Result<CsvColumns> r) {
    if (!r.ok()) return {false, r.error().kind, r.error().message, {}, {}};
    Outcome out;
    out.headers = r.value().headers;
    out.rows.resize(r.value().rows);
    for (uint64_t i = 0; i < r.value().rows; ++i)
        for (const CsvColumn& c : r.value().columns)
            out.rows[i].push_back(std::bit_cast<uint32_t>(c[i]));
    return out;
}

// ---------------------------------------------------------------------------------------
// Random text

// Pieces the generator draws from.
constexpr const char* kNumberWords[] = {
    "0", "-0", "+0", "1", "-1", "1e40", "-1e40", "1e-50", "-1e-50", "inf", "-Infinity", "+INF",
    "nan", "-nan", "NaN", "3.4028235e38", "3.4028236e38", "1.4e-45", "7e-46", "0.5", ".5", "5.", "1e"};
constexpr const char* kTexts[] = {"", " ", "a", "x", "abc", "\xC3\xA9", "\xF0\x9F\x98\x80",
                                  "\xEF\xBB\xBF", "\t", "0x10", "1_000", "\xF4\x8F\xBF\xBF"};
constexpr const char* kDamage[] = {",", "\"", "\n", "\r", "\"\"", "\xFF", "\xC3", "\xED\xA0\x80",
                                   "\xE0\x80\xAF", "\xF4\x90\x80\x80", "\xF0\x9F\x98"};
constexpr const char* kSoup[] = {",", "\"", "\n", "\r", "\r\n", "1", ".", "e", "-", "5", " ", "n", "a",
                                 "\xC3", "\xA9", "\xEF\xBB\xBF", "\"\"", "inf", "x"};

class Generator {
public:
    explicit Generator(uint64_t seed) : rng_(seed) {}

    size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    template <size_t N>
    const char* pick(const char* const (&options)[N]) {
        return options[below(N)];
    }

    std::string digits(size_t max) {
        std::string s;
        for (size_t k = below(max + 1); k > 0; --k) s += static_cast<char>('0' + below(10));
        return s;
    }

    // Decimal literals and near misses, with long mantissas and extreme exponents.
    std::string number() {
        switch (below(6)) {
            case 0: return pick(kNumberWords);
            case 1: return std::to_string(static_cast<int64_t>(rng_() % 2000001) - 1000000);
            case 2: {  // a random float, in full or cut short
                float f = std::bit_cast<float>(static_cast<uint32_t>(rng_()));
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.*g", static_cast<int>(1 + below(12)), f);
                return buf;
            }
            case 3: {  // halfway between two floats: ties go to even
                float f = std::bit_cast<float>(static_cast<uint32_t>(rng_()) & 0x7F7FFFFFu);
                double mid =
                    (static_cast<double>(f) + static_cast<double>(std::nextafter(f, INFINITY))) / 2;
                char buf[800];
                std::snprintf(buf, sizeof buf, "%.*g", static_cast<int>(20 + below(700)), mid);
                return buf;
            }
            default: {
                std::string s = chance(0.2) ? pick({"+", "-", "--", "+-"}) : "";
                s += digits(chance(0.1) ? 45 : 6);
                if (chance(0.5)) s += "." + digits(chance(0.1) ? 45 : 5);
                if (chance(0.3)) {
                    s += pick({"e", "E"});
                    if (chance(0.5)) s += pick({"+", "-"});
                    s += digits(3);
                }
                if (chance(0.05)) s += pick({" ", "_", "x", "f", ".", "e5"});
                return s;
            }
        }
    }

    std::string text_piece() { return pick(kTexts); }

    std::string cell() {
        std::string c;
        switch (below(10)) {
            case 0: c = text_piece(); break;
            case 1: c = ""; break;
            default: c = number();
        }
        if (chance(0.15)) {  // quoted, sometimes with doubled quotes, separators or text after
            std::string q = "\"";
            for (char ch : c) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
            if (chance(0.3)) q += pick({",", "\n", "\r\n", "\"\"", "\r"});
            q += "\"";
            if (chance(0.1)) q += pick({"x", "1", "x\"", " "});
            c = q;
        }
        return c;
    }

    std::string terminator() { return pick({"\n", "\n", "\n", "\r\n", "\r"}); }

    std::string header(size_t n) {
        std::string s = chance(0.05) ? "\xEF\xBB\xBF" : "";
        for (size_t i = 0; i < n; ++i) {
            if (i) s += ",";
            s += chance(0.1) ? text_piece() : std::string(1, static_cast<char>('a' + below(4)));
        }
        return s;
    }

    // A table with an occasional blank line, and when damaged a ragged record or a few
    // changed bytes.
    std::string table(size_t rows, bool damage) {
        size_t n = 1 + below(5);
        size_t ragged = damage && chance(0.5) ? below(rows + 1) : rows;
        std::string s = header(n);
        for (size_t r = 0; r < rows; ++r) {
            s += terminator();
            if (chance(0.05)) s += terminator();
            size_t fields = r == ragged ? (chance(0.5) ? n + 1 + below(2) : below(n)) : n;
            for (size_t i = 0; i < fields; ++i) {
                if (i) s += ",";
                s += cell();
            }
        }
        if (chance(0.5)) s += terminator();
        for (size_t k = damage ? below(3) : 0; k > 0 && !s.empty(); --k) {
            size_t at = below(s.size());
            switch (below(3)) {
                case 0: s.insert(at, pick(kDamage)); break;
                case 1: s.erase(at, 1); break;
                default: s[at] = static_cast<char>(rng_());
            }
        }
        return s;
    }

    // Bytes from the reader's alphabet in any order.
    std::string soup() {
        std::string s;
        for (size_t k = below(40); k > 0; --k) s += pick(kSoup);
        return s;
    }

private:
    std::mt19937_64 rng_;
};

uint64_t env_or(const char* name, uint64_t fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtoull(v, nullptr, 10) : fallback;
}

std::string shown(const std::string& s) {
    std::string out;
    for (unsigned char c : s.substr(0, 400)) {
        char buf[8];
        std::snprintf(buf, sizeof buf, c >= 0x20 && c < 0x7F && c != '\\' ? "%c" : "\\x%02X", c);
        out += buf;
    }
    return s.size() > 400 ? out + "... (" + std::to_string(s.size()) + " bytes)" : out;
}

// A file in memory, under a path the reader can open: a disk file's truncation would cost
// more than the read it feeds.
class MemFile {
public:
    MemFile() : fd_(::memfd_create("fuzz.csv", 0)) {}
    ~MemFile() { ::close(fd_); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    std::string holding(const std::string& text) {
        EXPECT_EQ(::ftruncate(fd_, 0), 0);
        EXPECT_EQ(::pwrite(fd_, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
        return "/proc/self/fd/" + std::to_string(fd_);
    }

private:
    int fd_;
};

// Runs `cases` seeds from FUZZ_SEED + offset on; stops at the first mismatch.
template <class Make>
void fuzz(uint64_t cases, uint64_t offset, Make make) {
    const uint64_t first = env_or("FUZZ_SEED", 1) + offset;
    MemFile file;
    for (uint64_t seed = first; seed < first + cases; ++seed) {
        Generator g(seed);
        std::string text = make(g);
        Outcome want = reference_read(text);
        Outcome got = outcome_of(seed % 64 == 0 ? csv_test::read_through_pipe(text)
                                                : read_csv_columns(file.holding(text)));
        ASSERT_TRUE(got == want) << "seed " << seed << " (FUZZ_SEED=" << seed - offset
                                 << " FUZZ_CASES=1)\ntext: " << shown(text)
                                 << "\nwant: " << (want.ok ? "ok" : want.message) << ", "
                                 << want.rows.size()
                                 << " rows\ngot:  " << (got.ok ? "ok" : got.message) << ", "
                                 << got.rows.size() << " rows";
    }
}

TEST(CsvFuzz, SmallTextsReadAsTheReferenceReadsThem) {
    fuzz(env_or("FUZZ_CASES", 20000), 0, [](Generator& g) {
        switch (g.below(3)) {
            case 0: return g.soup();
            case 1: return g.table(g.below(6), true);
            default: return g.table(g.below(40), g.chance(0.5));
        }
    });
}

// Large enough to be cut into chunks at guessed record starts (and, now and then, to span
// several windows of text).
TEST(CsvFuzz, LargeTextsReadAsTheReferenceReadsThem) {
    fuzz(std::max<uint64_t>(1, env_or("FUZZ_CASES", 20000) / 4000), uint64_t{1} << 40,
         [](Generator& g) {
             size_t rows = g.chance(0.1) ? 400000 + g.below(400000) : 40000 + g.below(80000);
             return g.table(rows, g.chance(0.5));
         });
}

}  // namespace
