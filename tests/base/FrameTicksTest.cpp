// Which frame a host means by a time, as a property over thousands of rates
// and host clocks. Wherever a host puts frame i (its exact start i x P / num
// rounded down, up or to nearest, with P = ticks per second x den; or i steps
// of ticks per frame rounded down or to nearest once, for as long as what
// that loses stays within a sixteenth of a frame), the middle of the frame,
// and the tick where it begins, the answer is frame i; the tick before it
// begins is frame i - 1. Worked out here in exact 128-bit arithmetic from the
// rate and the clock alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "base/FrameRate.h"
#include "support/HostPlacements.h"

using namespace keo;
using namespace keotest;

namespace {

// Frames 0 to 40 and either side of each power of two, while the start of
// the frame after next still fits a host's 64-bit time.
std::vector<int64_t> framesOf(const Clock& c) {
    const i128 p = static_cast<i128>(c.ticksPerSecond) * c.rate.den;
    std::vector<int64_t> frames;
    for (int64_t i = 0; i <= 40; ++i)
        frames.push_back(i);
    for (int k = 6; k <= 40; ++k)
        for (int64_t i : {(int64_t{1} << k) - 1, int64_t{1} << k, (int64_t{1} << k) + 1})
            frames.push_back(i);
    frames.erase(std::remove_if(frames.begin(), frames.end(),
                                [&](int64_t i) { return (i + 2) * p / c.rate.num > INT64_MAX; }),
                 frames.end());
    return frames;
}

std::vector<Clock> clocks() {
    std::vector<Clock> out;
    // The rates where hosts lost frames, and their neighbours.
    for (int64_t fps : {11, 13, 17, 19, 22, 23, 31, 33, 37, 44, 73})
        out.push_back({{fps, 1}, kStandInTicksPerSecond});
    out.push_back({{12513, 1001}, kStandInTicksPerSecond});
    out.push_back({{2147483647, 1}, kStandInTicksPerSecond});
    std::mt19937_64 rng(20240611);
    const int64_t kClocks[] = {kStandInTicksPerSecond, 90000, 1000, 705600000};
    while (out.size() < 3000) {
        Clock c{{draw(rng, 31), draw(rng, 31)}, kClocks[out.size() % 4]};
        if (out.size() % 7 == 0)
            c.ticksPerSecond = draw(rng, 38);
        // Every other one from the rates that round down.
        if (usable(c) && (out.size() % 2 == 0 || roundsDown(c)))
            out.push_back(c);
    }
    return out;
}

} // namespace

TEST(FrameTicks, EveryPlacementOfEveryFrameFindsThatFrame) {
    int failures = 0;
    for (const Clock& c : clocks()) {
        for (int64_t i : framesOf(c))
            for (const auto& [time, frame] : placements(c, i)) {
                const int64_t got =
                    frameAtTicks(c.rate, c.ticksPerSecond, static_cast<int64_t>(time));
                if (got != frame && ++failures <= 10)
                    ADD_FAILURE() << describe(c) << ": tick " << static_cast<int64_t>(time)
                                  << " is frame " << static_cast<int64_t>(frame) << ", got " << got;
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
