// The rate table, its canonical pairs and the derived rates of movies that
// name none of the standard rates.
#include <gtest/gtest.h>

#include <initializer_list>

#include "StandInHost.h"
#include "importer/TimeConversion.h"

namespace {

class ImporterRateTest : public ::testing::Test {
protected:
    void SetUp() override {
        host = keo::host::createHost();
        ASSERT_NE(host, nullptr);
        time = keo::host::hostSuites(host).time;
    }
    void TearDown() override { keo::host::destroyHost(host); }
    PrTime ticks(int code) {
        PrTime t = 0;
        time->GetTicksPerVideoFrame(code, &t);
        return t;
    }
    // The code a pair is recognised as, 0 for none; checks the ticks too.
    int codeOf(int scale, int sampleSize) {
        long long t = -5;
        int code = ConvertScaleSampleSizeToPrTime(time, &scale, &sampleSize, &t);
        EXPECT_EQ(t, code ? ticks(code) : -5) << "written only when recognised";
        return code;
    }
    // (scale, sample size) and the code each must be recognised as.
    struct Pair {
        int c, s, code;
    };
    void expectCodes(std::initializer_list<Pair> pairs) {
        for (Pair p : pairs)
            EXPECT_EQ(codeOf(p.c, p.s), p.code) << p.c << "/" << p.s;
    }
    keo::host::StandInHost* host = nullptr;
    PrSDKTimeSuite* time = nullptr;
};

TEST_F(ImporterRateTest, EveryRowOfTheTable) {
    expectCodes({
        {24000, 1001, 1}, {2397, 100, 1},   {90000, 3754, 1}, {23976, 1000, 1}, {47952, 2000, 1},
        {24, 1, 2},       {24024, 1001, 2}, {90000, 3750, 2}, {48, 2, 2},       {2400, 100, 2},
        {25, 1, 3},       {600, 24, 3},     {90000, 3600, 3}, {2500, 100, 3},   {30000, 1001, 4},
        {2997, 100, 4},   {29970, 1000, 4}, {90000, 3003, 4}, {5994, 200, 4},   {30, 1, 5},
        {600, 20, 5},     {90000, 3000, 5}, {3000, 100, 5},   {50, 1, 6},       {600, 12, 6},
        {90000, 1800, 6}, {100, 2, 6},      {60000, 1001, 7}, {5994, 100, 7},   {90000, 1502, 7},
        {11988, 200, 7},  {60, 1, 8},       {600, 10, 8},     {90000, 1500, 8}, {120, 2, 8},
    });
}

TEST_F(ImporterRateTest, RatesOutsideTheTableMatchNothing) {
    expectCodes({{15, 1, 0}, {100, 1, 0}, {24, 0, 0}, {0, 24, 0}});
    // The "scale is the rate" shortcuts need a sample size of 1; 50/2 and
    // 60/2 are 25 and 30 fps through the quotient.
    expectCodes({{25, 2, 0}, {24, 2, 0}, {30, 2, 0}, {50, 2, 3}, {60, 2, 5}});
    // A rate between whole standard ones is its own: 24.5 (49/2, and 637/26
    // as the writer stores it), 25.5, 30.5, 50.4 and 60.5 frames per second
    // would otherwise play as 24, 25, 30, 50 and 60.
    expectCodes({{49, 2, 0}, {637, 26, 0}, {51, 2, 0}, {61, 2, 0}, {252, 5, 0}, {121, 2, 0}});
    // Products that overflow 32 bits are taken in 64.
    expectCodes({{2147483647, 89566, 0}, {-2147483647 - 1, -1, 0}});
}

TEST_F(ImporterRateTest, CanonicalPairsFromTicks) {
    int c = 2500, s = 100;
    ConvertPrTimeToScaleSampleSize(time, ticks(3), &c, &s);
    EXPECT_EQ(c, 25);
    EXPECT_EQ(s, 1);
    const int canonical[][2] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};
    for (int code = 1; code <= 8; code++) {
        c = 7;
        s = 7;
        ConvertPrTimeToScaleSampleSize(time, ticks(code), &c, &s);
        EXPECT_EQ(c, canonical[code - 1][0]) << code;
        EXPECT_EQ(s, canonical[code - 1][1]) << code;
    }
    // Zero or negative ticks are never divided by; the pair stays.
    c = 3;
    s = 4;
    ConvertPrTimeToScaleSampleSize(time, 0, &c, &s);
    ConvertPrTimeToScaleSampleSize(time, -10, &c, &s);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(s, 4);
}

TEST_F(ImporterRateTest, DerivedTicksForOtherRates) {
    long long t = 0;
    ASSERT_TRUE(DeriveTicksPerFrame(time, 15, 1, &t));
    EXPECT_EQ(t, keo::host::kTicksPerSecond / 15);
    int c = 15, s = 1;
    ConvertPrTimeToScaleSampleSize(time, t, &c, &s);
    EXPECT_EQ(c, 15);
    EXPECT_EQ(s, 1);

    // 25/2 is 12.5 frames per second, not 25.
    ASSERT_TRUE(DeriveTicksPerFrame(time, 25, 2, &t));
    EXPECT_EQ(t, keo::host::kTicksPerSecond * 2 / 25);
    c = 25;
    s = 2;
    ConvertPrTimeToScaleSampleSize(time, t, &c, &s);
    EXPECT_EQ(c, 25);
    EXPECT_EQ(s, 2);

    // Rounds to nearest; extreme pairs neither overflow nor give 0.
    ASSERT_TRUE(DeriveTicksPerFrame(time, 7, 1, &t));
    EXPECT_EQ(t, (keo::host::kTicksPerSecond * 2 + 7) / 14);
    EXPECT_FALSE(DeriveTicksPerFrame(time, 1, 2147483647, &t)); // beyond 64 bits
    ASSERT_TRUE(DeriveTicksPerFrame(time, 2147483647, 1, &t));
    EXPECT_EQ(t, 118);
    EXPECT_FALSE(DeriveTicksPerFrame(time, 0, 1, &t));
    EXPECT_FALSE(DeriveTicksPerFrame(time, 1, 0, &t));
    EXPECT_FALSE(DeriveTicksPerFrame(time, -25, 1, &t));
    EXPECT_FALSE(DeriveTicksPerFrame(nullptr, 25, 1, &t));
}

} // namespace
