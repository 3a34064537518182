// Frames and time: host ticks, rounded as hosts round them, and exact
// seconds.
#include "base/FrameRate.h"

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
    // floor(i x P / num) <= t  <=>  i x P < (t + 1) x num, so the largest
    // such i is ((t + 1) x num - 1) div P. A frame lasts a tick or more, so
    // the result is at most t.
    const i128 reach = (static_cast<i128>(ticks) + 1) * r.num - 1;
    return clamp64(reach / (static_cast<i128>(ticksPerSecond) * r.den));
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
