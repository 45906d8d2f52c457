#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "profiler/profiler.hpp"

using namespace tessra;
using Json = nlohmann::json;

namespace {

std::vector<ProfileRecord> stored() {
    ProfilerState::Records& r = profiler_state().records;
    std::shared_lock lock(r.lock);
    return r.list;
}

void store(std::vector<ProfileRecord> records) {
    ProfilerState::Records& r = profiler_state().records;
    std::unique_lock lock(r.lock);
    r.list = std::move(records);
}

ProfileRecord rec(const char* op, const char* backend, uint64_t start, uint64_t end,
                  std::optional<std::string> context = std::nullopt) {
    return {op, backend, std::move(context), 1, start, end};
}

Json report(std::optional<std::string> context = std::nullopt) {
    Result<std::string> r = profile_report(context);
    EXPECT_TRUE(r.ok());
    return Json::parse(r.value());
}

struct Fresh : ::testing::Test {
    void SetUp() override {
        disable_profiling();
        clear_profile();
        set_profile_context(std::nullopt);
    }
    void TearDown() override { SetUp(); }
};

}  // namespace

// Python threads switch too rarely inside a call to show a context shared between threads.
TEST_F(Fresh, ScopesFromManyThreadsKeepTheirThreadsContext) {
    enable_profiling();
    constexpr int kThreads = 8, kScopes = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            set_profile_context("worker-" + std::to_string(t));
            for (int i = 0; i < kScopes; ++i) profile_scope_finish(profile_scope_begin("add", "CPU", 1));
        });
    for (auto& th : threads) th.join();
    std::vector<int> per_thread(kThreads);
    for (const ProfileRecord& r : stored()) ++per_thread.at(std::stoi(r.context.value().substr(7)));
    EXPECT_EQ(per_thread, std::vector<int>(kThreads, kScopes));
    profile_scope_finish(profile_scope_begin("sum", "CPU", 1));  // this thread set no context
    EXPECT_FALSE(stored().back().context.has_value());
}

TEST_F(Fresh, TheFlagIsReadWhenTheScopeFinishes) {
    ProfileScope opened_disabled = profile_scope_begin("late", "CPU", 3);
    enable_profiling();
    profile_scope_finish(std::move(opened_disabled));
    ProfileScope opened_enabled = profile_scope_begin("early", "CPU", 4);
    disable_profiling();
    profile_scope_finish(std::move(opened_enabled));

    std::vector<ProfileRecord> records = stored();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].operation, "late");
    EXPECT_EQ(records[0].elements, 3u);
}

TEST_F(Fresh, ScopeLeftByAnExceptionFinishesOnce) {
    enable_profiling();
    try {
        ProfileScope s = profile_scope_begin("dot_product", "CPU", 2);
        throw std::runtime_error("work failed");
    } catch (const std::runtime_error&) {
    }
    {
        ProfileScope s = profile_scope_begin("sum", "CPU", 2);
        profile_scope_finish(std::move(s));
    }
    std::vector<ProfileRecord> records = stored();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].operation, "dot_product");
    EXPECT_EQ(records[1].operation, "sum");
}

TEST_F(Fresh, ReportSummarisesPerOperation) {
    std::vector<ProfileRecord> rs;
    for (uint64_t i = 0; i < 3; ++i) {
        rs.push_back(rec("add", i == 1 ? "Metal" : "CPU", 1000 * i, 1000 * i + 1000, "train"));
        rs.push_back(rec("matmul_2d", "Metal", 0, 3000, i ? "train" : "eval"));
    }
    // A clock stepped back counts as no time; a record without context only in the full report.
    rs.push_back(rec("sum", "CPU", 900, 400));
    rs.push_back(rec("sum", "CPU", 0, 250));
    store(rs);
    Json r = report();
    EXPECT_EQ(r["operation_count"], 3);
    EXPECT_EQ(r["total_time_ms"], 12.25);
    const Json& sum = r["operations"]["sum"];
    EXPECT_EQ(sum["min_time_ms"], 0.0);
    EXPECT_EQ(sum["max_time_ms"], 0.25);

    r = report("train");
    EXPECT_EQ(r["metadata"]["context"], "train");
    EXPECT_EQ(r["operation_count"], 2);
    EXPECT_EQ(r["total_time_ms"], 9.0);
    const Json& add = r["operations"]["add"];
    EXPECT_EQ(add["count"], 3);
    EXPECT_EQ(add["avg_time_ms"], 1.0);
    EXPECT_NEAR(add["percent_total"].get<double>(), 100.0 / 3, 1e-12);
    EXPECT_EQ(add["primary_backend"], "CPU");
    EXPECT_EQ(r["operations"]["matmul_2d"]["count"], 2);
    EXPECT_EQ(r["operations"]["matmul_2d"]["primary_backend"], "Metal");

    // All durations zero; a tie of back-ends goes to the one met last.
    store({rec("sum", "CPU", 500, 500), rec("sum", "Metal", 7, 7), rec("add", "CPU", 7, 7)});
    r = report();
    EXPECT_EQ(r["operations"]["sum"]["primary_backend"], "Metal");
    EXPECT_EQ(r["total_time_ms"], 0.0);
    EXPECT_EQ(r["operations"]["sum"]["percent_total"], 0.0);
    EXPECT_EQ(r["operations"]["add"]["percent_total"], 0.0);
}

// Shortest: no text with fewer significant digits reads back as the same double.
bool is_shortest(const std::string& token) {
    const double v = std::strtod(token.c_str(), nullptr);
    std::string digits = token.substr(0, token.find('e'));
    std::erase(digits, '.');
    digits.erase(0, digits.find_first_not_of('0'));
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    for (size_t prec = 1; prec < digits.size(); ++prec) {
        char shorter[64];
        std::snprintf(shorter, sizeof shorter, "%.*e", static_cast<int>(prec - 1), v);
        if (std::strtod(shorter, nullptr) == v) return false;
    }
    return true;
}

TEST_F(Fresh, FloatsAreShortestRoundTrip) {
    // Arbitrary shares of the total give percentages with long expansions.
    std::vector<ProfileRecord> rs;
    for (uint64_t i = 0; i < 300; ++i)
        rs.push_back({"op" + std::to_string(i), "CPU", std::nullopt, 1, 0, (i * 7919 + 13) % 100003});
    store(rs);
    std::string text = profile_report(std::nullopt).value();
    size_t checked = 0;
    for (size_t at = text.find(": "); at != std::string::npos; at = text.find(": ", at + 1)) {
        std::string token(text.c_str() + at + 2, std::strcspn(text.c_str() + at + 2, ",\n"));
        if (token[0] == '"' || token.find('.') == std::string::npos) continue;  // not a float
        ASSERT_TRUE(is_shortest(token)) << token;
        ++checked;
    }
    EXPECT_GT(checked, 1500u);
}

TEST_F(Fresh, UnwritableTextIsAnError) {
    store({rec("add", "CPU", 0, 1, std::string("\xff"))});
    Result<std::string> r = profile_report(std::string("\xff"));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Runtime);
    EXPECT_EQ(r.error().message.rfind("JSON serialization failed: ", 0), 0u);
}
