#pragma once
// One read of comma-separated text: the blank lines before a record, then the record.
//
// Fields end at a comma; records at a single CR or LF byte (after CR LF the LF is a blank
// line of the next read). A field that begins with a double quote is quoted: two quotes in a
// row stand for one, the closing quote is dropped and any text after it up to the next comma
// or terminator is kept; a quote that is never closed runs to the end of the data. Quotes
// inside unquoted fields are plain text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessra::csv {

enum class ScanStatus {
    Record,    // a record was read; the next read begins where the cursor now stands
    End,       // only blank lines remained before the end of the data
    NeedMore,  // the read reached the end of data that goes on; the cursor did not move
};

inline bool is_terminator(char c) { return c == '\r' || c == '\n'; }

// Readable bytes the caller keeps on both sides of the text; fields rebuilt from quoted text
// get the same, so every span a sink sees has them.
constexpr size_t kTextPad = 32;

// Quoted fields that had to be rebuilt (doubled quotes, text after the closing quote).
class FieldScratch {
public:
    void assign(const char* b, const char* e) {
        buf_.assign(kTextPad, '\0');
        buf_.append(b, e);
    }
    void append(const char* b, const char* e) { buf_.append(b, e); }
    void push_back(char c) { buf_.push_back(c); }
    // Ends the field; returns its text.
    std::pair<const char*, const char*> finish() {
        size_t len = buf_.size() - kTextPad;
        buf_.append(kTextPad, '\0');
        return {buf_.data() + kTextPad, buf_.data() + kTextPad + len};
    }

private:
    std::string buf_;
};

namespace detail {

struct StopTable {
    bool stop[256] = {};
    constexpr StopTable() { stop[','] = stop['\r'] = stop['\n'] = true; }
};
inline constexpr StopTable kStops{};

inline bool is_stop(char c) { return kStops.stop[static_cast<unsigned char>(c)]; }

inline bool any_high(const char* b, const char* e) {
    unsigned char acc = 0;
    for (; b != e; ++b) acc |= static_cast<unsigned char>(*b);
    return acc & 0x80;
}

}  // namespace detail

// The first comma, CR or LF in [p, end), or end; ORs the bytes passed over into `seen`.
inline const char* find_stop(const char* p, const char* end, unsigned& seen) {
#if defined(__SSE2__)
    const __m128i comma = _mm_set1_epi8(','), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, cr)),
                                   _mm_cmpeq_epi8(v, lf));
        unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(hit));
        unsigned top = static_cast<unsigned>(_mm_movemask_epi8(v));  // bytes >= 0x80
        if (stops) {
            unsigned k = static_cast<unsigned>(__builtin_ctz(stops));
            seen |= (top & ((1u << k) - 1)) ? 0x80 : 0;
            return p + k;
        }
        seen |= top ? 0x80 : 0;
        p += 16;
    }
#endif
    while (p != end && !detail::is_stop(*p)) seen |= static_cast<unsigned char>(*p++);
    return p;
}


// Reads from `cursor` up to `end`; `final` says the data ends at `end` for good. Fields go to
// sink.field(begin, end, has_non_ascii) left to right, unquoted ones to
// sink.plain_field(begin, end) instead where the sink has it (it returns where the field
// ends); the sink must forget the fields when the result is NeedMore.
template <class Sink>
ScanStatus scan_record(const char*& cursor, const char* end, bool final, FieldScratch& scratch,
                       Sink& sink) {
    using detail::is_stop;
    const char* p = cursor;
    while (p != end && is_terminator(*p)) ++p;
    if (p == end) {
        if (!final) return ScanStatus::NeedMore;
        cursor = end;
        return ScanStatus::End;
    }
    for (;;) {
        if (p == end || *p != '"') {
            if constexpr (requires { sink.plain_field(p, end); }) {
                // The sink finds the end of the cell itself, reading it once.
                p = sink.plain_field(p, end);
                if (p == end && !final) return ScanStatus::NeedMore;
            } else {
                const char* b = p;
                unsigned high = 0;
                p = find_stop(p, end, high);
                if (p == end && !final) return ScanStatus::NeedMore;
                sink.field(b, p, (high & 0x80) != 0);
            }
        } else {
            const char* b = ++p;
            const char* q = static_cast<const char*>(std::memchr(p, '"', end - p));
            if (q == nullptr || q + 1 == end) {
                if (!final) return ScanStatus::NeedMore;
                const char* e = q ? q : end;
                sink.field(b, e, detail::any_high(b, e));
                p = end;
            } else if (is_stop(q[1])) {
                sink.field(b, q, detail::any_high(b, q));
                p = q + 1;
            } else {
                // Doubled quotes or text after the closing quote: rebuild the field.
                scratch.assign(b, q);
                p = q;  // on a quote inside the quoted part
                for (;;) {
                    if (p + 1 == end) {
                        if (!final) return ScanStatus::NeedMore;
                        p = end;
                        break;
                    }
                    if (p[1] != '"') {
                        const char* t = ++p;
                        while (p != end && !is_stop(*p)) ++p;
                        if (p == end && !final) return ScanStatus::NeedMore;
                        scratch.append(t, p);
                        break;
                    }
                    scratch.push_back('"');
                    p += 2;
                    q = static_cast<const char*>(std::memchr(p, '"', end - p));
                    if (q == nullptr) {
                        if (!final) return ScanStatus::NeedMore;
                        scratch.append(p, end);
                        p = end;
                        break;
                    }
                    scratch.append(p, q);
                    p = q;
                }
                auto [fb, fe] = scratch.finish();
                sink.field(fb, fe, detail::any_high(fb, fe));
            }
        }
        if (p == end) {
            cursor = end;
            return ScanStatus::Record;
        }
        if (*p++ != ',') {
            cursor = p;
            return ScanStatus::Record;
        }
    }
}

// LF bytes in [b, e).
inline uint64_t count_line_feeds(const char* b, const char* e) {
    uint64_t n = 0;
#if defined(__SSE2__)
    // Byte counters that step down by one (a match is -1) for at most 255 blocks, then sum.
    const __m128i lf = _mm_set1_epi8('\n'), zero = _mm_setzero_si128();
    while (e - b >= 16) {
        __m128i acc = zero;
        for (int k = 0; k < 255 && e - b >= 16; ++k, b += 16)
            acc = _mm_sub_epi8(
                acc, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), lf));
        __m128i sums = _mm_sad_epu8(acc, zero);
        n += static_cast<uint64_t>(_mm_cvtsi128_si64(sums)) +
             static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    for (; b != e; ++b) n += *b == '\n';
    return n;
}

}  // namespace tessra::csv
