#include <gtest/gtest.h>

#include <cmath>

#include "ops/random.hpp"

using namespace tessra;

TEST(Ziggurat, TablesMatchKnownSamples) {
    const ZigguratTables& t = ziggurat_tables();
    struct Case {
        const double* table;
        int i;
        double value;
    };
    const Case cases[] = {
        {t.x, 0, 3.91075795953709},      {t.x, 1, 3.654152885361009},
        {t.x, 2, 3.4492782985609645},    {t.x, 128, 1.5353425714388431},
        {t.x, 255, 0.2152418959132738},  {t.f, 0, 0.000477467764586655},
        {t.f, 1, 0.001260285930498598},  {t.f, 255, 0.9771017012827313},
    };
    for (const Case& c : cases) EXPECT_NEAR(c.table[c.i], c.value, 1e-14 * c.value) << c.i;
    EXPECT_EQ(t.x[256], 0.0);
    EXPECT_EQ(t.f[256], 1.0);
    for (int i = 1; i < 256; ++i) {
        EXPECT_GT(t.x[i], t.x[i + 1]) << i;
        EXPECT_LT(t.f[i], t.f[i + 1]) << i;
    }
}
