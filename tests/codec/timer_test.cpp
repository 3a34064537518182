// KEOTimer against the monotonic clock read around it: whatever the machine's
// load, the timer's answer must lie between the clock's shortest and longest
// reading of the same span. A wrong tick conversion, a start taken at the
// wrong moment or a reset that does not restart falls outside the bracket.
#include <gtest/gtest.h>

#include <ctime>
#include <optional>

#include "codec/KEOTimer.h"

namespace {

double nowSeconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Waits by spinning on the clock, so the span is at least `seconds` without
// sleeping and without a bound on how long it may take.
void spin(double seconds) {
    const double until = nowSeconds() + seconds;
    while (nowSeconds() < until) {
    }
}

// The clock just before and just after a call.
struct Bracket {
    double before, after;
};

template <class F> Bracket around(F call) {
    Bracket b;
    b.before = nowSeconds();
    call();
    b.after = nowSeconds();
    return b;
}

// Spins, then reads `timer`, started (or reset) within `start`: the answer
// lies between the shortest and the longest span the clock allows.
void expectElapsedSince(const KEOTimer& timer, Bracket start) {
    spin(0.002);
    double elapsed = 0;
    const Bracket read = around([&] { elapsed = timer.GetElapsedTime(); });
    const double rounding = 1e-6; // of the clock readings as doubles
    EXPECT_GE(elapsed, read.before - start.after - rounding);
    EXPECT_LE(elapsed, read.after - start.before + rounding);
}

TEST(KEOTimerTest, ElapsedTimeLiesBetweenTheClockReadingsAroundIt) {
    std::optional<KEOTimer> timer;
    const Bracket start = around([&] { timer.emplace(); });
    expectElapsedSince(*timer, start);
}

TEST(KEOTimerTest, ResetRestartsFromTheMomentOfTheReset) {
    KEOTimer timer;
    spin(0.002);
    expectElapsedSince(timer, around([&] { timer.ResetTimer(); }));
}

// The conversion is worked out by the first timer of the process; later
// ones must share it rather than start from an unset factor.
TEST(KEOTimerTest, LaterTimersShareTheConversion) {
    KEOTimer first;
    std::optional<KEOTimer> second;
    const Bracket start = around([&] { second.emplace(); });
    expectElapsedSince(*second, start);
    EXPECT_GE(first.GetElapsedTime(), second->GetElapsedTime());
}

} // namespace
