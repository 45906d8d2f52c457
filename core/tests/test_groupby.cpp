#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dataframe/groupby.hpp"

using namespace tessra;

namespace {

Series column(const std::string& name, const std::vector<float>& v) {
    return Series{name, from_vec({v.size()}, v).value(), Labels::range(v.size())};
}

}  // namespace

// Columns big enough to be copied in several pieces on several threads: the group result is
// computed from the copy alone, whatever happens to the source's bytes afterwards.
TEST(GroupBy, CopyIsDeepAndWholeForLargeFrames) {
    const size_t n = 3'000'003, groups = 1'001;
    std::vector<float> keys(n), a(n), b(n);
    for (size_t i = 0; i < n; ++i) {
        keys[i] = static_cast<float>((i * 7919) % groups);
        a[i] = static_cast<float>(i % 97) * 0.25f;
        b[i] = static_cast<float>(i % 13) - 6.0f;
    }
    DataFrame df;
    ASSERT_TRUE(frame_insert(df, "k", column("k", keys)));
    ASSERT_TRUE(frame_insert(df, "a", column("a", a)));
    ASSERT_TRUE(frame_insert(df, "b", column("b", b)));
    GroupBy g = frame_groupby(df, "k").value();
    for (auto& [key, s] : df.columns) std::memset(s.data.data.data(), 0xFF, s.data.data.size());

    std::vector<float> sa(groups, 0.0f), sb(groups, 0.0f);
    for (size_t i = 0; i < n; ++i) {
        sa[static_cast<size_t>(keys[i])] += a[i];
        sb[static_cast<size_t>(keys[i])] += b[i];
    }
    DataFrame out = groupby_sum(g).value();
    ASSERT_EQ(out.row_count, groups);
    const float* k = out.columns.find("k")->data.f32();
    const float* ra = out.columns.find("a")->data.f32();
    const float* rb = out.columns.find("b")->data.f32();
    for (size_t r = 0; r < groups; ++r) {
        EXPECT_EQ(k[r], static_cast<float>(r));
        EXPECT_EQ(ra[r], sa[r]) << r;
        EXPECT_EQ(rb[r], sb[r]) << r;
    }
}
