// Which frame a host means by a time, as a property over thousands of rates
// and host clocks: wherever a host puts frame i (support/HostPlacements.h),
// the answer is frame i, and the tick before it begins is frame i - 1.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "base/FrameRate.h"
#include "support/HostPlacements.h"

using namespace keo;
using namespace keotest;

namespace {

// The rates where hosts lost frames and their neighbours, then drawn at
// random on four clocks and every seventh on a clock drawn too, every other
// one from the rates whose ticks per frame round down.
std::vector<Clock> clocks() {
    std::vector<Clock> out;
    for (int64_t fps : {11, 13, 17, 19, 22, 23, 31, 33, 37, 44, 73, 2147483647})
        out.push_back({{fps, 1}, kStandInTicksPerSecond});
    out.push_back({{12513, 1001}, kStandInTicksPerSecond});
    std::mt19937_64 rng(20240611);
    const int64_t kClocks[] = {kStandInTicksPerSecond, 90000, 1000, 705600000};
    while (out.size() < 3000) {
        Clock c{{draw(rng, 31), draw(rng, 31)}, kClocks[out.size() % 4]};
        if (out.size() % 7 == 0)
            c.ticksPerSecond = draw(rng, 38);
        if (usable(c) && (out.size() % 2 == 0 || roundsDown(c)))
            out.push_back(c);
    }
    return out;
}

} // namespace

// Frames 0 to 40 and either side of each power of two up to 2^40, while the
// start of the frame after next still fits a host's 64-bit time.
TEST(FrameTicks, EveryPlacementOfEveryFrameFindsThatFrame) {
    std::vector<int64_t> frames;
    for (int64_t i = 0; i <= 40; ++i)
        frames.push_back(i);
    for (int k = 6; k <= 40; ++k)
        for (int64_t d : {-1, 0, 1})
            frames.push_back((int64_t{1} << k) + d);
    int failures = 0;
    for (const Clock& c : clocks()) {
        for (int64_t i : frames) {
            if ((i + 2) * c.p() / c.rate.num > INT64_MAX)
                break;
            for (const auto& [time, frame] : placements(c, i)) {
                const int64_t got =
                    frameAtTicks(c.rate, c.ticksPerSecond, static_cast<int64_t>(time));
                if (got != frame && ++failures <= 10)
                    ADD_FAILURE() << describe(c) << ": tick " << static_cast<int64_t>(time)
                                  << " is frame " << static_cast<int64_t>(frame) << ", got " << got;
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

// What the rule never does: answer for a time before 0, for a clock that
// cannot run, or skip or repeat a frame where frames last 3 ticks: the
// answers for consecutive ticks climb by 0 or 1.
TEST(FrameTicks, NoFrameBeforeTheStartAndNoneSkipped) {
    EXPECT_EQ(frameAtTicks({25, 1}, kStandInTicksPerSecond, -1), -1);
    EXPECT_EQ(frameAtTicks({0, 1}, kStandInTicksPerSecond, 0), -1);
    EXPECT_EQ(frameAtTicks({25, 1}, 0, 0), -1);
    EXPECT_EQ(frameAtTicks({int64_t{1} << 31, 1}, kStandInTicksPerSecond, 0), -1);
    for (const Clock& c : {Clock{{7, 2}, 11}, Clock{{1000, 3}, 1000}, Clock{{3, 1}, 10}}) {
        int64_t last = 0;
        for (int64_t t = 0; t < 100000; ++t) {
            const int64_t f = frameAtTicks(c.rate, c.ticksPerSecond, t);
            ASSERT_TRUE(f == last || f == last + 1) << describe(c) << " at " << t;
            last = f;
        }
    }
}
