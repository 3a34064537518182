// Frame rates as a person types them, and as host ticks.
//
// "25", "12.5", "30000/1001" and the usual decimal shorthands of the 1001-based
// rates ("23.976", "29.97", "59.94", also "23.98") are accepted; a shorthand
// within half a unit of its last digit of M x 1000/1001 is taken to mean
// exactly that rate, as every editing host does.
#pragma once

#include <cstdint>
#include <string>

#include "base/FrameClock.h"
#include "container/QuicktimeRate.h"

namespace keo::lib {

struct FrameRate {
    int64_t num = 0; // frames per second = num / den, in lowest terms
    int64_t den = 1;
};

// False (with a reason) for text that is not a positive rate.
bool parseFrameRate(const std::string& text, FrameRate* rate, std::string* why);
// The rate as the movie writer takes it, exactly; false (with a reason) for
// one that no movie holds: a part of 2^31 or more, or faster than
// kQuicktimeMaxFramesPerSecond.
bool storedRate(const FrameRate& rate, QuicktimeRate* stored, std::string* why);
// The rate on a host clock (base/FrameClock.h), where frame i starts at
// frameStartTicks(clock, i).
FrameClock frameClock(const FrameRate& rate, int64_t ticksPerSecond);
// Host ticks per frame: ticks per second x den / num, rounded to the nearest
// tick when it does not divide (every standard rate divides exactly).
int64_t ticksPerFrame(const FrameRate& rate, int64_t ticksPerSecond);
// "25", "29.97 (30000/1001)", "12.5 (25/2)".
std::string frameRateText(const FrameRate& rate);

} // namespace keo::lib
