// Frames and host ticks, exactly, at any rate a movie can state.
//
// A movie runs at scale / sampleSize frames per second; a host whose clock
// counts ticksPerSecond starts frame i at i x ticksPerSecond x sampleSize /
// scale ticks. At 13, 19 or 73 frames per second that is no whole number of
// ticks, so a host lands each start on a tick by rounding it down, up or to
// nearest, and no single ticks-per-frame figure can be divided by to find the
// frame again: rounded up, it puts every frame one behind.
//
// So the frame of a time is worked out from the rational rate: it is the last
// frame whose start, rounded down, lies at or before the time. Whichever of
// the three roundings a host chose, frame i's start finds frame i, as long as
// a frame lasts two ticks or more (any rate up to half the clock), and a time
// two and a half frames in is frame 2. Where ticks per frame is whole, this
// is the plain quotient time / ticks per frame.
//
// The importer, the plug-in driver and keo all count frames through here, so
// a host's view of the movie and the plug-in's cannot drift apart. Products
// are taken in 128 bits: ticks per second near 2^38 times a sample size near
// 2^31 times a frame number passes 2^63 by far.
#pragma once

#include <cstdint>

namespace keo {

// The clock of keo's stand-in host, through which keo export writes its
// movies; every standard frame rate and every common sound rate divides it.
constexpr int64_t kStandInTicksPerSecond = 254016000000LL;

struct FrameClock {
    int64_t ticksPerSecond; // the host's clock
    int32_t scale;          // frames per second = scale / sampleSize
    int32_t sampleSize;
};

// True when every frame lasts at least one tick and at most INT64_MAX ticks;
// the functions below answer -1 or 0 for a clock that does not run.
inline bool clockRuns(const FrameClock& c) {
    if (c.ticksPerSecond <= 0 || c.scale <= 0 || c.sampleSize <= 0)
        return false;
    const __int128 perFrameTimesScale = static_cast<__int128>(c.ticksPerSecond) * c.sampleSize;
    return perFrameTimesScale >= c.scale &&
           perFrameTimesScale / c.scale <= static_cast<__int128>(INT64_MAX);
}

// Ticks per frame to the nearest tick (halves up): the figure a host is shown
// and exports at; 0 for a clock that does not run.
inline int64_t nominalTicksPerFrame(const FrameClock& c) {
    if (!clockRuns(c))
        return 0;
    const __int128 twice = static_cast<__int128>(c.ticksPerSecond) * c.sampleSize * 2;
    const __int128 ticks = (twice + c.scale) / (static_cast<__int128>(c.scale) * 2);
    return ticks > INT64_MAX ? INT64_MAX : static_cast<int64_t>(ticks);
}

// The start of `frame` rounded down to a tick (negative frames too), held to
// the 64-bit range; 0 for a clock that does not run.
inline int64_t frameStartTicks(const FrameClock& c, int64_t frame) {
    if (!clockRuns(c))
        return 0;
    // start = frame x (whole + part / scale), with whole below 2^63 and part
    // below 2^31, so neither product leaves 128 bits.
    const __int128 perFrameTimesScale = static_cast<__int128>(c.ticksPerSecond) * c.sampleSize;
    const __int128 whole = perFrameTimesScale / c.scale;
    const __int128 part = perFrameTimesScale % c.scale;
    const __int128 partTicks = static_cast<__int128>(frame) * part;
    // Floor division of a possibly negative numerator.
    __int128 partFloor = partTicks / c.scale;
    if (partTicks % c.scale < 0)
        partFloor -= 1;
    const __int128 start = static_cast<__int128>(frame) * whole + partFloor;
    if (start > INT64_MAX)
        return INT64_MAX;
    return start < INT64_MIN ? INT64_MIN : static_cast<int64_t>(start);
}

// The frame whose interval holds `ticks`: the last frame whose start, rounded
// down, is at or before it. -1 for a time before frame 0 or a clock that does
// not run; no upper bound, so the caller checks it against the frame count.
inline int64_t frameAtTicks(const FrameClock& c, int64_t ticks) {
    if (!clockRuns(c) || ticks < 0)
        return -1;
    // floor(i x P / scale) <= t  <=>  i x P < (t + 1) x scale, with P the
    // ticks per second times the sample size; the largest such i is
    // ((t + 1) x scale - 1) div P. A frame lasts a tick or more, so the
    // result is at most t.
    const __int128 perFrameTimesScale = static_cast<__int128>(c.ticksPerSecond) * c.sampleSize;
    const __int128 reach = (static_cast<__int128>(ticks) + 1) * c.scale - 1;
    return static_cast<int64_t>(reach / perFrameTimesScale);
}

// Sample frames of sound in one frame of `ticksPerFrame` ticks, rounded up:
// the largest block a host's audio renderer hands an exporter, asked with
// the export's ticks per frame, and so the size of each chunk of sound in an
// exported movie. keomux cuts its sound the same way, so that it writes the
// bytes keo export writes. 0 when any argument is not positive; held to the
// 64-bit range.
inline int64_t soundBlockFrames(int64_t ticksPerFrame, int64_t ticksPerSecond, int64_t sampleRate) {
    if (ticksPerFrame <= 0 || ticksPerSecond <= 0 || sampleRate <= 0)
        return 0;
    const __int128 ticks = static_cast<__int128>(ticksPerFrame) * sampleRate;
    const __int128 frames = (ticks + ticksPerSecond - 1) / ticksPerSecond;
    return frames > INT64_MAX ? INT64_MAX : static_cast<int64_t>(frames);
}

} // namespace keo
