// The Time Suite: exact ticks per frame and per audio sample.
#include "HostFixture.h"

#include <limits>

using namespace keo::host;

TEST_F(HostTest, TicksPerFrameAreExactForAllEightRates) {
    const PrTime expected[8] = {10594584000, 10584000000, 10160640000, 8475667200,
                                8467200000,  5080320000,  4237833600,  4233600000};
    for (int code = 1; code <= 8; ++code) {
        PrTime ticks = 0;
        ASSERT_EQ(s.time->GetTicksPerVideoFrame(code, &ticks), 0) << code;
        EXPECT_EQ(ticks, expected[code - 1]) << code;
    }
    PrTime ticks = -1;
    EXPECT_NE(s.time->GetTicksPerVideoFrame(0, &ticks), 0);
    EXPECT_NE(s.time->GetTicksPerVideoFrame(9, &ticks), 0);
    EXPECT_EQ(ticks, -1);
    EXPECT_EQ(s.time->GetTicksPerSecond(&ticks), 0);
    EXPECT_EQ(ticks, 254016000000);
}

TEST_F(HostTest, TicksPerAudioSampleAreExactForTheCommonRates) {
    const float rates[] = {8000,  11025, 16000, 22050, 24000,  32000,
                           44100, 48000, 88200, 96000, 176400, 192000};
    for (float rate : rates) {
        PrTime ticks = 0;
        ASSERT_EQ(s.time->GetTicksPerAudioSample(rate, &ticks), 0) << rate;
        EXPECT_EQ(ticks * static_cast<PrTime>(rate), kTicksPerSecond) << rate;
    }
    PrTime ticks = 0;
    s.time->GetTicksPerAudioSample(48000.0f, &ticks);
    EXPECT_EQ(ticks, 5292000);
}

TEST_F(HostTest, RatesThatDoNotDivideTheClockAreRefused) {
    PrTime ticks = -1;
    EXPECT_NE(s.time->GetTicksPerAudioSample(44100.5f, &ticks), 0);
    EXPECT_NE(s.time->GetTicksPerAudioSample(0.0f, &ticks), 0);
    EXPECT_NE(s.time->GetTicksPerAudioSample(-48000.0f, &ticks), 0);
    EXPECT_NE(s.time->GetTicksPerAudioSample(7.0f * 11 * 13 * 17, &ticks), 0); // 17 is no factor
    EXPECT_NE(s.time->GetTicksPerAudioSample(std::numeric_limits<float>::quiet_NaN(), &ticks), 0);
    EXPECT_EQ(ticks, -1);
}
