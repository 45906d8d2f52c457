// The profile report: per-operation summaries of the stored records as pretty JSON.
#include <uuid/uuid.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <mutex>
#include <nlohmann/json.hpp>
#include <unordered_map>

#include "profiler/profiler.hpp"

namespace tessra {

namespace {

using Json = nlohmann::ordered_json;

struct Summary {
    std::string operation;
    std::string primary_backend;
    uint64_t count = 0;
    double total_ms = 0.0;
    double avg_ms = 0.0;
    double min_ms = 0.0;
    double max_ms = 0.0;
    double percent = 0.0;
};

double duration_ms(const ProfileRecord& r) {
    // A clock stepped back between start and end counts as no time.
    const uint64_t us = r.end_us >= r.start_us ? r.end_us - r.start_us : 0;
    return static_cast<double>(us) / 1000.0;
}

// Ties go to the name met last, in first-seen order.
std::string most_frequent_backend(const std::vector<const ProfileRecord*>& group) {
    std::vector<std::pair<std::string_view, uint64_t>> counts;
    for (const ProfileRecord* r : group) {
        auto it = counts.begin();
        while (it != counts.end() && it->first != r->backend) ++it;
        if (it == counts.end())
            counts.emplace_back(r->backend, 1);
        else
            ++it->second;
    }
    std::string_view best = "unknown";
    uint64_t best_count = 0;
    for (const auto& [name, n] : counts)
        if (n >= best_count) best = name, best_count = n;
    return std::string(best);
}

// Groups keep the order in which their operation first appears among the selected records.
std::vector<Summary> summarise(const std::vector<const ProfileRecord*>& selected, double total) {
    std::unordered_map<std::string_view, size_t> index;
    std::vector<std::vector<const ProfileRecord*>> groups;
    for (const ProfileRecord* r : selected) {
        auto [it, fresh] = index.try_emplace(r->operation, groups.size());
        if (fresh) groups.emplace_back();
        groups[it->second].push_back(r);
    }
    std::vector<Summary> out;
    out.reserve(groups.size());
    for (const auto& group : groups) {
        Summary s;
        s.operation = group.front()->operation;
        s.count = group.size();
        s.min_ms = std::numeric_limits<double>::infinity();
        s.max_ms = -std::numeric_limits<double>::infinity();
        for (const ProfileRecord* r : group) {
            const double d = duration_ms(*r);
            s.total_ms += d;
            s.min_ms = std::fmin(s.min_ms, d);
            s.max_ms = std::fmax(s.max_ms, d);
        }
        s.avg_ms = s.total_ms / static_cast<double>(s.count);
        s.primary_backend = most_frequent_backend(group);
        s.percent = total > 0.0 ? s.total_ms / total * 100.0 : 0.0;
        out.push_back(std::move(s));
    }
    return out;
}

std::string fresh_session_id() {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_lower(id, text);
    return text;
}

// RFC 3339 UTC; the fraction only when non-zero, in 3, 6 or 9 digits as the nanoseconds allow.
std::string utc_timestamp_now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm t{};
    gmtime_r(&ts.tv_sec, &t);
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.tm_year + 1900,
                          t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    const long ns = ts.tv_nsec;
    if (ns % 1'000'000 == 0 && ns != 0)
        n += std::snprintf(buf + n, sizeof buf - n, ".%03ld", ns / 1'000'000);
    else if (ns % 1000 == 0 && ns != 0)
        n += std::snprintf(buf + n, sizeof buf - n, ".%06ld", ns / 1000);
    else if (ns != 0)
        n += std::snprintf(buf + n, sizeof buf - n, ".%09ld", ns);
    return std::string(buf, n) + "+00:00";
}

// Shortest round-trip text, ".0" on integral values, exponent form outside [1e-4, 1e16),
// null for non-finite. The JSON library's own float text is not always the shortest.
void append_number(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    const double a = std::fabs(v);
    const bool fixed = a == 0.0 || (a >= 1e-4 && a < 1e16);
    char buf[400];
    auto end = std::to_chars(buf, buf + sizeof buf, v,
                             fixed ? std::chars_format::fixed : std::chars_format::scientific)
                   .ptr;
    out.append(buf, end);
    if (fixed && std::string_view(buf, end - buf).find('.') == std::string_view::npos) out += ".0";
}

// The library's two-space pretty layout; strings and integers are written by the library.
void append_pretty(std::string& out, const Json& j, size_t depth) {
    if (j.is_number_float()) return append_number(out, j.get<double>());
    if (!j.is_object() || j.empty()) {
        out += j.dump();
        return;
    }
    out += "{\n";
    bool first = true;
    for (auto it = j.begin(); it != j.end(); ++it) {
        if (!first) out += ",\n";
        first = false;
        out.append(2 * (depth + 1), ' ');
        out += Json(it.key()).dump();
        out += ": ";
        append_pretty(out, it.value(), depth + 1);
    }
    out += '\n';
    out.append(2 * depth, ' ');
    out += '}';
}

}  // namespace

Result<std::string> profile_report(const std::optional<std::string>& context) {
    ProfilerState::Records& records = profiler_state().records;
    std::vector<Summary> summaries;
    double total = 0.0;
    std::string session_id, timestamp;
    {
        std::shared_lock lock(records.lock);
        std::vector<const ProfileRecord*> selected;
        for (const ProfileRecord& r : records.list)
            if (!context || r.context == context) selected.push_back(&r);
        for (const ProfileRecord* r : selected) total += duration_ms(*r);
        summaries = summarise(selected, total);
        session_id = fresh_session_id();
        timestamp = utc_timestamp_now();
    }

    try {
        Json doc;
        doc["metadata"] = {{"session_id", session_id},
                           {"start_timestamp", timestamp},
                           {"version", "3.0.0"},
                           {"context", context ? Json(*context) : Json(nullptr)}};
        Json operations = Json::object();
        for (const Summary& s : summaries)
            operations[s.operation] = {{"operation", s.operation},
                                       {"count", s.count},
                                       {"total_time_ms", s.total_ms},
                                       {"avg_time_ms", s.avg_ms},
                                       {"min_time_ms", s.min_ms},
                                       {"max_time_ms", s.max_ms},
                                       {"primary_backend", s.primary_backend},
                                       {"percent_total", s.percent}};
        doc["operations"] = std::move(operations);
        doc["total_time_ms"] = total;
        doc["operation_count"] = static_cast<uint64_t>(summaries.size());
        std::string text;
        append_pretty(text, doc, 0);
        return text;
    } catch (const nlohmann::json::exception& e) {
        return runtime_error(std::string("JSON serialization failed: ") + e.what());
    }
}

}  // namespace tessra
