#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "csv_files.hpp"
#include "dataframe/csv/reader.hpp"
#include "dataframe/csv/number.hpp"
#include "util/utf8.hpp"

using namespace tessra;
using tessra::csv_test::read_text;
using tessra::csv_test::read_through_pipe;

namespace {

constexpr uint32_t kNaN = 0x7FC00000u;

uint32_t bits(float v) { return std::bit_cast<uint32_t>(v); }

// Rows as bit patterns, row by row, for exact comparison (NaN included).
std::vector<std::vector<uint32_t>> rows_of(const CsvColumns& c) {
    std::vector<std::vector<uint32_t>> rows(c.rows);
    for (uint64_t r = 0; r < c.rows; ++r)
        for (const auto& col : c.columns) rows[r].push_back(bits(col.at(r)));
    return rows;
}

// ---------------------------------------------------------------------------------------
// Records, fields and quoting

struct ShapeCase {
    const char* name;
    std::string text;
    std::vector<std::string> headers;
    std::vector<std::vector<uint32_t>> rows;
};

std::string repeat(const std::string& s, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += s;
    return out;
}

const uint32_t k1 = 0x3F800000u, k2 = 0x40000000u, k3 = 0x40400000u, k4 = 0x40800000u;

std::vector<ShapeCase> shape_cases() {
    return {
        {"mixed", "a,b\n1,2\n3,x\n", {"a", "b"}, {{k1, k2}, {k3, kNaN}}},
        {"quoted", "a,b\n\"3\",\"1,5\"\n", {"a", "b"}, {{k3, kNaN}}},
        {"doubled_and_trailing", "\"a\"\"b\",\"c\"d\n\"1\"\"\",\"2\"4\n", {"a\"b", "cd"},
         {{kNaN, 0x41C00000u}}},
        {"quote_inside_plain", "a\"b,c\n1\"\"\"\",2\n", {"a\"b", "c"}, {{kNaN, k2}}},
        {"quoted_terminators", "\"a\r\nb\",c\n\"1\n\",2\n", {"a\r\nb", "c"}, {{kNaN, k2}}},
        {"open_quote_runs_to_end", "a,b\n1,\"2\n3,4", {"a", "b"}, {{k1, kNaN}}},
        {"open_quote_at_end", "a,b\n1,\"", {"a", "b"}, {{k1, kNaN}}},
        {"closing_quote_at_end", "a,b\n1,\"2\"", {"a", "b"}, {{k1, k2}}},
        {"crlf", "a,b\r\n1,2\r\n3,4\r\n", {"a", "b"}, {{k1, k2}, {k3, k4}}},
        {"cr", "a,b\r1,2\r3,4", {"a", "b"}, {{k1, k2}, {k3, k4}}},
        {"no_final_newline", "a,b\n1,2", {"a", "b"}, {{k1, k2}}},
        {"trailing_comma_at_end", "a,b\n1,", {"a", "b"}, {{k1, kNaN}}},
        {"blank_lines", "\n\r\na,b\n\n1,2\r\n\r\n\n3,4\n\n\r", {"a", "b"}, {{k1, k2}, {k3, k4}}},
        {"space_line", "a\n \n", {"a"}, {{kNaN}}},
        {"comma_line", "a,b\n,\n", {"a", "b"}, {{kNaN, kNaN}}},
        {"bom", "\xEF\xBB\xBF" "a,b\n1,2\n", {"a", "b"}, {{k1, k2}}},
        {"bom_later_is_text", "a\n\xEF\xBB\xBF" "1\n", {"a"}, {{kNaN}}},
        {"bom_quoted", "\xEF\xBB\xBF\"a\"\n1\n", {"a"}, {{k1}}},
        {"header_only", "a,b\n", {"a", "b"}, {}},
        {"header_only_no_newline", "a,b", {"a", "b"}, {}},
        {"empty", "", {}, {}},
        {"blank_only", "\r\n\n", {}, {}},
        {"bom_only", "\xEF\xBB\xBF", {}, {}},
        {"untrimmed", " a,b \n 1.5,2 \n", {" a", "b "}, {{kNaN, kNaN}}},
        {"duplicate_names", "x,x\n1,2\n", {"x", "x"}, {{k1, k2}}},
        {"utf8_names", "\xC3\xA9,\xF0\x9F\x98\x80\n1,2\n", {"\xC3\xA9", "\xF0\x9F\x98\x80"},
         {{k1, k2}}},
        {"non_ascii_cell", "a\n\xC3\xA9\n", {"a"}, {{kNaN}}},
        // One byte a value: more values than the text's length suggests.
        {"empty_fields", "a,b,c\n" + repeat(",,\n", 40), {"a", "b", "c"},
         std::vector<std::vector<uint32_t>>(40, {kNaN, kNaN, kNaN})},
    };
}

void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.name; }

class Shape : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(Shape, ReadsHeadersAndRows) {
    const ShapeCase& c = GetParam();
    auto r = read_text(c.text);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r.value().headers, c.headers);
    EXPECT_EQ(r.value().columns.size(), c.headers.size());
    EXPECT_EQ(r.value().rows, c.rows.size());
    for (const auto& col : r.value().columns) EXPECT_EQ(col.size(), c.rows.size());
    EXPECT_EQ(rows_of(r.value()), c.rows);
}

INSTANTIATE_TEST_SUITE_P(Csv, Shape, ::testing::ValuesIn(shape_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Failures

struct FailureCase {
    const char* name;
    std::string text;
    std::string message;
};

std::vector<FailureCase> failure_cases() {
    const std::string rec = "Failed to read record: CSV error: record ";
    const std::string of2 = " fields, but the previous record has 2 fields";
    const std::string hdr = "Failed to read headers: CSV parse error: record 0 (line 1, field: ";
    const std::string bad = "Failed to read record: CSV parse error: record 1 (line 2, field: ";
    return {
        {"too_many", "a,b\n1,2\n1,2,3\n",
         rec + "2 (line: 3, byte: 8): found record with 3" + of2},
        {"too_few", "a,b\n1\n",
         rec + "1 (line: 2, byte: 4): found record with 1" + of2},
        {"crlf_position", "a,b\r\nc\r\n",
         rec + "1 (line: 1, byte: 4): found record with 1" + of2},
        {"blank_lines_belong_to_the_read", "a,b\n1,2\n\n\r\n3\n",
         rec + "2 (line: 3, byte: 8): found record with 1" + of2},
        {"bom_counts_in_bytes", "\xEF\xBB\xBF" "a,b\n1\n",
         rec + "1 (line: 2, byte: 7): found record with 1" + of2},
        {"quoted_line_feeds_count", "a,b\n\"x\ny\",1\n2\n",
         rec + "2 (line: 4, byte: 12): found record with 1" + of2},
        // Line feeds 16 bytes apart fall in one lane of the vector count, past its byte's range.
        {"line_feeds_in_one_lane", "a,b\n" + repeat("1234567,1234567\n", 300) + "1\n",
         rec + "301 (line: 302, byte: 4804): found record with 1" + of2},
        {"single_field_header", "a\n1\n1,2\n",
         rec + "2 (line: 3, byte: 4): found record with 2 fields, but the previous record has 1 "
               "fields"},
        {"count_before_utf8", "a,b\n\xFF\n",
         rec + "1 (line: 2, byte: 4): found record with 1" + of2},
        {"utf8_header", "a,b\xFF\n1,2\n",
         hdr + "1, byte: 0): invalid utf-8: invalid UTF-8 in field 1 near byte index 1"},
        {"utf8_header_after_blank_lines", "\n\nx,\xC3\n",
         hdr + "1, byte: 0): invalid utf-8: invalid UTF-8 in field 1 near byte index 0"},
        {"utf8_record", "a,b\n1,\xC3\xA9\xC3\n",
         bad + "1, byte: 4): invalid utf-8: invalid UTF-8 in field 1 near byte index 2"},
        {"utf8_first_bad_field_wins", "a,b,c\n1,\xFF,\xFF\n",
         bad + "1, byte: 6): invalid utf-8: invalid UTF-8 in field 1 near byte index 0"},
        // The doubled quote splits the two bytes of one character: the field text is checked.
        {"utf8_rebuilt_quoted_field", "a\n\"\xC3\"\"\xA9\"\n",
         bad + "0, byte: 2): invalid utf-8: invalid UTF-8 in field 0 near byte index 0"},
        {"partial_bom", "\xEF\xBB" "a\n",
         hdr + "0, byte: 0): invalid utf-8: invalid UTF-8 in field 0 near byte index 0"},
    };
}

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class Failure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Failure, ReportsTheReaderText) {
    auto r = read_text(GetParam().text);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Value);
    EXPECT_EQ(r.error().message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Csv, Failure, ::testing::ValuesIn(failure_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Numbers

struct NumberCase {
    const char* text;
    uint32_t expected;
};

std::vector<NumberCase> number_cases() {
    return {
        // Forms of the grammar.
        {"5", 0x40A00000u}, {"5.", 0x40A00000u}, {".5", 0x3F000000u}, {"5.25", 0x40A80000u},
        {"+5", 0x40A00000u}, {"-5", 0xC0A00000u}, {"-.5", 0xBF000000u}, {"1e3", 0x447A0000u},
        {"1E3", 0x447A0000u}, {"1e+3", 0x447A0000u}, {"1.5e-3", 0x3AC49BA6u}, {"5.e1", 0x42480000u},
        {".5E1", 0x40A00000u}, {"007", 0x40E00000u}, {"0", 0u}, {"-0", 0x80000000u},
        {"+0.0e-999", 0u}, {"-0.000", 0x80000000u}, {"inf", 0x7F800000u}, {"INF", 0x7F800000u},
        {"+Infinity", 0x7F800000u}, {"-iNfInItY", 0xFF800000u}, {"nan", kNaN}, {"NaN", kNaN},
        {"+NAN", kNaN}, {"-nan", 0xFFC00000u},
        // Outside the grammar.
        {"", kNaN}, {"+", kNaN}, {"-", kNaN}, {".", kNaN}, {"-.", kNaN}, {" 1", kNaN},
        {"1 ", kNaN}, {"1_000", kNaN}, {"0x10", kNaN}, {"1,5", kNaN}, {"e5", kNaN}, {"1e", kNaN},
        {"1e+", kNaN}, {"1e-", kNaN}, {"1e1.5", kNaN}, {"--1", kNaN}, {"+-1", kNaN},
        {"1.2.3", kNaN}, {"..1", kNaN}, {"infinit", kNaN}, {"infinityy", kNaN}, {"nan(1)", kNaN},
        {"in", kNaN}, {"1f", kNaN}, {"1d", kNaN}, {"0b1", kNaN}, {"1\t", kNaN},
        {"\xD9\xA1", kNaN},
        // Correct rounding, ties to even, at every digit count.
        {"0.1", 0x3DCCCCCDu}, {"16777217", 0x4B800000u}, {"16777219", 0x4B800002u},
        {"1073741888", 0x4E800000u}, {"1073741888.0", 0x4E800000u},
        {"1073741888.00000001", 0x4E800001u}, {"1073741887.99999999", 0x4E800000u},
        {"10737418.88e2", 0x4E800000u}, {"9007199254740993", 0x5A000000u},
        {"123456789012345678", 0x5BDB4DA6u}, {"0.30000001192092896", 0x3E99999Au},
        {"1.000000059604644775390625", 0x3F800000u}, {"1.000000059604644775390625001", 0x3F800001u},
        {"1.0000000596046447753906249", 0x3F800000u}, {"2.00000035762786865234375", 0x40000002u},
        {"0.1000000000000000055511151231257827021181583404541015625", 0x3DCCCCCDu},
        {"0.00000000000000000000000000000000000000000000000000000000001e60", 0x41200000u},
        // Range ends.
        {"3.4028235e38", 0x7F7FFFFFu}, {"340282356779733661637539395458142568447", 0x7F7FFFFFu},
        {"340282356779733661637539395458142568448", 0x7F800000u}, {"1e39", 0x7F800000u},
        {"-1e39", 0xFF800000u}, {"1e99999999999999999999", 0x7F800000u},
        {"1.17549435e-38", 0x00800000u}, {"1.1754942e-38", 0x007FFFFFu}, {"1e-45", 0x00000001u},
        {"1.4e-45", 0x00000001u}, {"1e-46", 0u}, {"-1e-46", 0x80000000u},
        // Exactly half the smallest subnormal, and a hair above it.
        {"7.0064923216240853546186479164495806564013097093825788587853414194489554134293030074"
         "3319094181060791015625e-46", 0u},
        {"7.0064923216240853546186479164495806564013097093825788587853414194489554134293030074"
         "3319094181060791015626e-46", 1u},
        {"0e999999999999", 0u}, {"-1e-99999999999", 0x80000000u},
    };
}

void PrintTo(const NumberCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class Number : public ::testing::TestWithParam<NumberCase> {};

// Read as a cell: by the reader's own number path over its buffer, plain, quoted, and as the
// last bytes of the file.
TEST_P(Number, ParsesTheSameAsACell) {
    const std::string t = GetParam().text;
    const uint32_t want = GetParam().expected;
    const bool plain = t.find_first_of(",\r\n\"") == std::string::npos;
    for (const std::string& cell : {t, "\"" + t + "\""}) {
        if (cell == t && !plain) continue;
        auto r = read_text("v,w\n" + cell + ",1\n" + cell + ",2");
        ASSERT_TRUE(r.ok()) << r.error().message;
        ASSERT_EQ(r.value().rows, 2u);
        EXPECT_EQ(bits(r.value().columns[0][0]), want) << cell;
        EXPECT_EQ(bits(r.value().columns[0][1]), want) << cell;
    }
    auto with_quote = read_text("v\n\"" + t + "\"\"\"\n");
    ASSERT_TRUE(with_quote.ok());
    EXPECT_EQ(bits(with_quote.value().columns[0][0]), kNaN);
    if (t.empty() || !plain) return;
    auto last = read_text("v\n" + t);
    ASSERT_TRUE(last.ok());
    ASSERT_EQ(last.value().rows, 1u);
    EXPECT_EQ(bits(last.value().columns[0][0]), want);
}

INSTANTIATE_TEST_SUITE_P(Csv, Number, ::testing::ValuesIn(number_cases()));

// Generated texts on both sides of the reader's fast paths, against the standard library's
// correctly rounded reading: every placement of the point in a short cell (one eight-byte word
// or more), signed and not, and mantissas around the largest integer a float holds exactly
// with every count of fraction digits.
void expect_as_from_chars(const std::string& t) {
    float want = 0.0f;
    const char* b = t.data() + (t[0] == '+');
    auto r = std::from_chars(b, t.data() + t.size(), want);
    ASSERT_TRUE(r.ec == std::errc() && r.ptr == t.data() + t.size()) << t;
    EXPECT_EQ(bits(csv::parse_f32(t.data(), t.data() + t.size())), bits(want)) << t;
}

TEST(CsvNumber, ShortCellsWithThePointAnywhere) {
    for (size_t digits = 1; digits <= 9; ++digits)
        for (const std::string sign : {"", "-", "+"}) {
            const std::string body = std::string("987654321").substr(0, digits);
            expect_as_from_chars(sign + body);
            for (size_t point = 0; point <= digits; ++point)
                expect_as_from_chars(sign + body.substr(0, point) + "." + body.substr(point));
        }
}

TEST(CsvNumber, MantissasAroundTheFloatLimit) {
    for (uint64_t m : {1u, 3u, 8388609u, 9999999u, 16777213u, 16777215u, 16777216u, 16777217u,
                       16777219u, 33554435u}) {
        const std::string digits = std::to_string(m);
        for (size_t frac = 1; frac <= 12; ++frac) {
            const std::string body = std::string(frac >= digits.size() ? frac - digits.size() + 1 : 0, '0') + digits;
            expect_as_from_chars(body.substr(0, body.size() - frac) + "." + body.substr(body.size() - frac));
        }
    }
}

// ---------------------------------------------------------------------------------------
// UTF-8

struct Utf8Case {
    std::string bytes;
    size_t valid_up_to;
};

void PrintTo(const Utf8Case& c, std::ostream* os) { *os << ::testing::PrintToString(c.bytes); }

class Utf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8, ValidPrefix) {
    const std::string& b = GetParam().bytes;
    EXPECT_EQ(utf8_valid_up_to(reinterpret_cast<const unsigned char*>(b.data()), b.size()),
              GetParam().valid_up_to);
}

INSTANTIATE_TEST_SUITE_P(
    Csv, Utf8,
    ::testing::Values(Utf8Case{"abc", 3}, Utf8Case{"a\xC3\xA9z", 4}, Utf8Case{"\xE2\x82\xAC", 3},
                      Utf8Case{"\xF0\x9F\x98\x80", 4}, Utf8Case{"\xF4\x8F\xBF\xBF", 4},
                      Utf8Case{"ab\x80", 2}, Utf8Case{"\xC0\x80", 0}, Utf8Case{"\xC1\xBF", 0},
                      Utf8Case{"x\xE0\x9F\xBF", 1}, Utf8Case{"\xED\xA0\x80", 0},
                      Utf8Case{"\xED\x9F\xBF", 3}, Utf8Case{"\xF0\x8F\xBF\xBF", 0},
                      Utf8Case{"\xF4\x90\x80\x80", 0}, Utf8Case{"\xF5\x80\x80\x80", 0},
                      Utf8Case{"ok\xE2\x82", 2}, Utf8Case{"\xE2\x28\xA1", 0}, Utf8Case{"\xFF", 0}));

// ---------------------------------------------------------------------------------------
// Large inputs: split into parallel chunks and refilled window by window

std::string number_rows(size_t rows, const std::string& extra_every_row = "") {
    std::string s = "i,half" + std::string(extra_every_row.empty() ? "" : ",q") + "\n";
    for (size_t i = 0; i < rows; ++i) {
        s += std::to_string(i) + "," + std::to_string(i) + ".5";
        if (!extra_every_row.empty()) s += "," + extra_every_row;
        s += (i % 3 == 0) ? "\r\n" : "\n";
    }
    return s;
}

void expect_numbered(const CsvColumns& c, size_t rows) {
    ASSERT_EQ(c.rows, rows);
    for (size_t i = 0; i < rows; ++i) {
        ASSERT_EQ(c.columns[0][i], static_cast<float>(i)) << i;
        ASSERT_EQ(c.columns[1][i], static_cast<float>(i) + 0.5f) << i;
    }
}

// Every record holds a quoted line break, so guessed chunk starts are often wrong.
TEST(CsvLarge, QuotedLineBreaksAcrossChunkGuesses) {
    auto r = read_text(number_rows(200000, "\"x\n,\r\n\"\"y\""));
    ASSERT_TRUE(r.ok()) << r.error().message;
    expect_numbered(r.value(), 200000);
    EXPECT_TRUE(std::isnan(r.value().columns[2][199999]));
}

// Many chunks, and beyond one window of text: records continue across refills.
TEST(CsvLarge, SpansSeveralWindows) {
    auto r = read_text(number_rows(1800000));
    ASSERT_TRUE(r.ok()) << r.error().message;
    expect_numbered(r.value(), 1800000);
}

TEST(CsvLarge, FaultDeepInTheFileHasItsPosition) {
    std::string s = number_rows(300000);
    size_t byte = s.size();
    size_t line = 1 + static_cast<size_t>(std::count(s.begin(), s.end(), '\n'));
    s += "1,2,3\n" + number_rows(1000).substr(7);
    auto r = read_text(s);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message,
              "Failed to read record: CSV error: record 300001 (line: " + std::to_string(line) +
                  ", byte: " + std::to_string(byte) +
                  "): found record with 3 fields, but the previous record has 2 fields");
}

// A pipe gives no size and arrives in pieces: reads stop and resume in mid-record.
TEST(CsvLarge, ReadsFromAPipe) {
    auto r = read_through_pipe(number_rows(100000, "\"q\"\"uoted\""));
    ASSERT_TRUE(r.ok()) << r.error().message;
    expect_numbered(r.value(), 100000);
}

// A quoted field far longer than the first read: the text grows until the record is whole.
TEST(CsvLarge, LongQuotedFieldFromAPipe) {
    std::string big = "\"" + repeat("x\"\",\n", 200000) + "\"";
    auto r = read_through_pipe("a,b\n1," + big + "\n" + big + ",2\n3,4");
    ASSERT_TRUE(r.ok()) << r.error().message;
    ASSERT_EQ(r.value().rows, 3u);
    std::vector<std::vector<uint32_t>> want = {{k1, kNaN}, {kNaN, k2}, {k3, k4}};
    EXPECT_EQ(rows_of(r.value()), want);
}

}  // namespace
