// The frame rate as text, as a fraction brought to the terms a field holds
// and to the standard rates, in exact seconds, and as a timecode.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "base/FrameRate.h"
#include "base/Timecode.h"

using namespace keo;

namespace {

constexpr int64_t kTicksPerSecond = 254016000000LL;

FrameRate rateOf(const std::string& text) {
    FrameRate r;
    std::string why;
    EXPECT_TRUE(parseFrameRate(text, &r, &why)) << text << ": " << why;
    return r;
}

std::string text(FrameRate r) {
    return std::to_string(r.num) + "/" + std::to_string(r.den);
}

} // namespace

TEST(FrameRate, WholeFractionalAndNtscShorthands) {
    struct Case {
        const char* text;
        int64_t num, den;
    } cases[] = {
        {"25", 25, 1},
        {"50/2", 25, 1},
        {"12.5", 25, 2},
        {"29.97", 30000, 1001},
        {"30000/1001", 30000, 1001},
        {"23.976", 24000, 1001},
        {"23.98", 24000, 1001},
        {"59.94", 60000, 1001},
        {"29.9", 299, 10},
        {"0.5", 1, 2},
    };
    for (const Case& c : cases) {
        FrameRate r = rateOf(c.text);
        EXPECT_EQ(r.num, c.num) << c.text;
        EXPECT_EQ(r.den, c.den) << c.text;
    }
}
TEST(FrameRate, RefusesWhatIsNotAPositiveRate) {
    for (const char* text : {"0", "0.0", "-25", "abc", "25/0", "0/1", "1.", ".", "", "25fps",
                             "1/2/3", "99999999999"}) {
        FrameRate r;
        std::string why;
        EXPECT_FALSE(parseFrameRate(text, &r, &why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
}
TEST(FrameRate, TicksAreExactForStandardRatesAndRoundedOtherwise) {
    EXPECT_EQ(ticksPerFrame(rateOf("25"), kTicksPerSecond), 10160640000LL);
    EXPECT_EQ(ticksPerFrame(rateOf("29.97"), kTicksPerSecond), 8475667200LL);
    EXPECT_EQ(ticksPerFrame(rateOf("23.976"), kTicksPerSecond), kTicksPerSecond * 1001 / 24000);
    // 254016000000 / 11 = 23092363636.36...
    EXPECT_EQ(ticksPerFrame(rateOf("11"), kTicksPerSecond), 23092363636LL);
    // 254016000000 / 13 = 19539692307.69...
    EXPECT_EQ(ticksPerFrame(rateOf("13"), kTicksPerSecond), 19539692308LL);
}

// An averaged or measured rate brought to terms that 32-bit fields (and a
// host's duration, frames x denominator) hold: the nearest such fraction,
// which is not always a convergent of the continued fraction (311/99 is the
// best of denominators up to 100 for 3.14159265).
TEST(FrameRate, ClosestFractionOfBoundedParts) {
    struct Case {
        FrameRate exact;
        int64_t maxNum, maxDen;
        FrameRate expected;
    } cases[] = {
        {{60000, 2002}, INT32_MAX, INT32_MAX, {30000, 1001}}, // fits: lowest terms
        {{314159265, 100000000}, 1000, 100, {311, 99}},
        {{314159265, 100000000}, 1000, 1000, {355, 113}},
        // 3001 frames at 90 kHz, 7200 units each but one more: 12.4999994 fps,
        // whose own denominator times the frames would not fit 31 bits.
        {{int64_t{90000} * 3001, int64_t{3001} * 7200 + 1},
         INT32_MAX,
         INT32_MAX / 3001,
         {8944862, 715589}},
        {{35000001, 10000000}, 10, 1000, {7, 2}},                      // the numerator bounds it
        {{1, 1000000000000}, 100, 100, {1, 100}},                      // below the least stated
        {{1000000000000, 1}, 100, 100, {100, 1}},                      // above the most
        {{int64_t{1} << 62, 3}, INT64_MAX, INT64_MAX, {INT32_MAX, 1}}, // bounds held to 31 bits
    };
    for (const Case& c : cases)
        EXPECT_EQ(text(closestRate(c.exact, c.maxNum, c.maxDen)), text(c.expected))
            << text(c.exact) << " within " << c.maxNum << "/" << c.maxDen;
}

// A rate within 0.1% of a standard one is that rate, the nearest where two
// are (23.976 and 24 are 0.1% apart); anything further keeps its own.
TEST(FrameRate, SnapsToTheNearestStandardRateWithinATenthOfAPercent) {
    struct Case {
        FrameRate measured, expected;
    } cases[] = {
        {{100000, 3333}, {30, 1}},      // 100 frames of 33.3 ms: 30.003
        {{10000, 333}, {10000, 333}},   // 10 of them: 30.03, 0.1001% off
        {{2997, 100}, {30000, 1001}},   // 29.97 written to its digits
        {{23988, 1000}, {24000, 1001}}, // between the two, nearer 23.976
        {{23990, 1000}, {24, 1}},
        {{6006, 100}, {60, 1}},     // exactly 0.1% above 60
        {{6007, 100}, {6007, 100}}, // just beyond
        {{15, 1}, {15, 1}},         // not a standard rate
        {{0, 1}, {0, 1}},           // no rate at all
    };
    for (const Case& c : cases)
        EXPECT_EQ(text(snapToStandardRate(c.measured)), text(c.expected)) << text(c.measured);
}

// Exact seconds both ways: the start of a frame in lowest terms, and the
// frame whose interval holds a time, its first instant included and its end
// excluded.
TEST(FrameRate, FramesAndExactSeconds) {
    struct Case {
        FrameRate rate;
        int64_t frame;
        Seconds start;
    } cases[] = {
        {{25, 1}, 50, {2, 1}},
        {{30000, 1001}, 3, {1001, 10000}},
        {{25, 2}, 1, {2, 25}},
        {{60, 2}, 0, {0, 1}},
    };
    for (const Case& c : cases) {
        Seconds s;
        ASSERT_TRUE(frameStartSeconds(c.rate, c.frame, &s)) << c.frame;
        EXPECT_EQ(s.num, c.start.num) << c.frame;
        EXPECT_EQ(s.den, c.start.den) << c.frame;
        EXPECT_EQ(frameAtSeconds(c.rate, s), c.frame);
        // A microsecond earlier is the frame before.
        EXPECT_EQ(frameAtSeconds(c.rate, {s.num * 1000000 - 1, s.den * 1000000}), c.frame - 1);
    }
    // A frame number whose start needs more than 64 bits before it is
    // reduced, and one whose start does not fit at all.
    Seconds s;
    const int64_t far = int64_t{30000} << 48;
    ASSERT_TRUE(frameStartSeconds({30000, 1001}, far, &s));
    EXPECT_EQ(s.num, int64_t{1001} << 48);
    EXPECT_EQ(s.den, 1);
    EXPECT_EQ(frameAtSeconds({30000, 1001}, s), far);
    EXPECT_FALSE(frameStartSeconds({30000, 1001}, INT64_MAX, &s));
    EXPECT_FALSE(frameStartSeconds({25, 1}, -1, &s));
    EXPECT_EQ(frameAtSeconds({25, 1}, {-1, 100}), -1);
    EXPECT_EQ(frameAtSeconds({25, 1}, {1, 0}), -1);
}

// HH:MM:SS:FF, FF counting at the whole rate (at 24 for 23.976), and 29.97
// and 59.94 as drop-frame timecode, which skips frame numbers 00 and 01 (00
// to 03) of every minute but each tenth. At a rate that is not whole, the
// clock part is the time itself and the frame part counts the frames that
// began within that second: 12.5 frames a second never counted as 13, nor
// 24.5 as 25.
TEST(Timecode, WholeRatesDropFrameAndRatesThatAreNotWhole) {
    struct Case {
        int64_t frames;
        FrameRate rate;
        const char* timecode;
    } cases[] = {
        {0, {25, 1}, "00:00:00:00"},
        {50, {25, 1}, "00:00:02:00"},
        {25 * 3661 + 7, {25, 1}, "01:01:01:07"},
        {24, {24000, 1001}, "00:00:01:00"},
        {1799, {30000, 1001}, "00:00:59;29"},
        {1800, {30000, 1001}, "00:01:00;02"},
        {17982, {30000, 1001}, "00:10:00;00"},
        {107892, {30000, 1001}, "01:00:00;00"},
        {3600, {60000, 1001}, "00:01:00;04"},
        {45000, {25, 2}, "01:00:00:00"},
        {24, {25, 2}, "00:00:01:11"}, // 1.92 s: frames 13 to 23 began in second 1
        {49, {49, 2}, "00:00:02:00"},
        {48, {49, 2}, "00:00:01:23"}, // second 1 began with frame 25
        {88200, {49, 2}, "01:00:00:00"},
        {36, {12513, 1001}, "00:00:02:10"}, // as earlier writers stored 12.5
        {3, {1, 2}, "00:00:06:00"},
        {50, {50, 2}, "00:00:02:00"}, // 50/2 is the whole rate 25
        {-1, {25, 1}, ""},
        {1, {0, 1}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(timecodeOf(c.frames, c.rate), c.timecode) << c.frames << " at " << text(c.rate);
}
