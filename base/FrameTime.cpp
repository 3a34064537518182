// Frames and time: host ticks, rounded as hosts round them, and exact
// seconds.
#include "base/FrameRate.h"

#include <algorithm>
#include <climits>
#include <numeric>

namespace keo {
namespace {

using i128 = __int128;

i128 floorDiv(i128 a, i128 b) {
    i128 q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0))
        q -= 1;
    return q;
}

int64_t clamp64(i128 v) {
    if (v > INT64_MAX)
        return INT64_MAX;
    return v < INT64_MIN ? INT64_MIN : static_cast<int64_t>(v);
}

// A frame lasts P / num ticks, P = ticksPerSecond x den; split as whole +
// part / num so that a frame number times either stays inside 128 bits
// (whole below 2^63 by clockRuns, part below 2^31).
struct Split {
    i128 whole, part, num;
};

Split splitOf(FrameRate r, int64_t ticksPerSecond) {
    const i128 perFrameTimesNum = static_cast<i128>(ticksPerSecond) * r.den;
    return {perFrameTimesNum / r.num, perFrameTimesNum % r.num, r.num};
}

// The first tick of frame i >= 0: the tick that holds its exact start, or,
// where a host may have fallen further short, the first tick short of the
// start by no more than i times the part of a tick that a frame lasts beyond
// its whole ticks, held to a kHostDriftFramePart-th of a frame. Over 16 x
// num, that allowance is the smaller of 16 x i x part and 16 x P /
// kHostDriftFramePart.
i128 firstTick(const Split& s, i128 i) {
    const i128 perFrameTimesNum = s.whole * s.num + s.part;
    const i128 allowance = std::min(16 * i * s.part, perFrameTimesNum * 16 / kHostDriftFramePart);
    const i128 rounded = floorDiv(i * s.part, s.num);
    const i128 reached = -floorDiv(allowance - 16 * i * s.part, 16 * s.num); // ceiling
    return i * s.whole + std::min(rounded, reached);
}

} // namespace

bool clockRuns(FrameRate r, int64_t ticksPerSecond) {
    if (ticksPerSecond <= 0 || !isRate(r) || r.num > INT32_MAX || r.den > INT32_MAX)
        return false;
    const i128 perFrameTimesNum = static_cast<i128>(ticksPerSecond) * r.den;
    return perFrameTimesNum >= r.num && perFrameTimesNum / r.num <= static_cast<i128>(INT64_MAX);
}

int64_t ticksPerFrame(FrameRate r, int64_t ticksPerSecond) {
    if (!clockRuns(r, ticksPerSecond))
        return 0;
    const i128 twice = static_cast<i128>(ticksPerSecond) * r.den * 2;
    return clamp64((twice + r.num) / (static_cast<i128>(r.num) * 2));
}

int64_t frameStartTicks(FrameRate r, int64_t ticksPerSecond, int64_t frame) {
    if (!clockRuns(r, ticksPerSecond))
        return 0;
    const Split s = splitOf(r, ticksPerSecond);
    return clamp64(frame * s.whole + floorDiv(frame * s.part, s.num));
}

int64_t frameAtTicks(FrameRate r, int64_t ticksPerSecond, int64_t ticks) {
    if (!clockRuns(r, ticksPerSecond) || ticks < 0)
        return -1;
    // The last frame whose start, rounded down, is at or before the time:
    // floor(i x P / num) <= t  <=>  i x P < (t + 1) x num, so i is
    // ((t + 1) x num - 1) div P. Frame i's first tick lies at or before its
    // rounded-down start, and frame i + 2's after frame i + 1's start, so
    // the answer is i or i + 1.
    const Split s = splitOf(r, ticksPerSecond);
    const i128 reach = (static_cast<i128>(ticks) + 1) * r.num - 1;
    const i128 i = reach / (s.whole * s.num + s.part);
    return clamp64(firstTick(s, i + 1) <= ticks ? i + 1 : i);
}

int64_t soundBlockFrames(int64_t ticksPerFrame, int64_t ticksPerSecond, int64_t sampleRate) {
    if (ticksPerFrame <= 0 || ticksPerSecond <= 0 || sampleRate <= 0)
        return 0;
    const i128 ticks = static_cast<i128>(ticksPerFrame) * sampleRate;
    return clamp64((ticks + ticksPerSecond - 1) / ticksPerSecond);
}

bool frameStartSeconds(FrameRate r, int64_t frame, Seconds* start) {
    if (!isRate(r) || frame < 0 || !start)
        return false;
    i128 n = static_cast<i128>(frame) * r.den;
    i128 d = r.num;
    // gcd of a 128-bit and a 64-bit number, by Euclid's steps.
    i128 a = n, b = d;
    while (b != 0) {
        const i128 t = a % b;
        a = b;
        b = t;
    }
    if (a > 1) {
        n /= a;
        d /= a;
    }
    if (n > INT64_MAX)
        return false;
    *start = {static_cast<int64_t>(n), static_cast<int64_t>(d)};
    return true;
}

int64_t frameAtSeconds(FrameRate r, Seconds t) {
    if (!isRate(r) || t.den <= 0 || t.num < 0)
        return -1;
    // floor(t x rate), both products below 2^126.
    return clamp64(static_cast<i128>(t.num) * r.num / (static_cast<i128>(t.den) * r.den));
}

} // namespace keo
