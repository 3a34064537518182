// Frame rates, exactly, and the times of frames: the one rate type that the
// container's writer, the importer, the stand-in host, libkeo, keo, keomux
// and the Python module share.
//
// A rate is a fraction, num / den frames per second, never a float: 12.5 is
// 25/2 and 29.97 is 30000/1001, so a rate goes from the user's text into a
// movie and from a movie to a host without rounding on the way.
//
//   FrameRate r;
//   std::string why;
//   parseFrameRate("29.97", &r, &why);           // 30000/1001
//   frameRateText(r);                            // "29.97 (30000/1001)"
//   ticksPerFrame(r, kStandInTicksPerSecond);    // what a host is shown
//   frameAtTicks(r, kStandInTicksPerSecond, t);  // the frame a host means by t
//   timecodeOf(frames, r);                       // base/Timecode.h
//
// Frames and host ticks. A host's clock counts ticksPerSecond; frame i
// starts at i x ticksPerSecond x den / num ticks, which at 11, 13 or 12.5
// frames per second is no whole number of ticks. A host lands each start on
// a tick by rounding it down, up or to nearest, or steps by a ticks-per-frame
// figure it rounded once; rounded down (or to nearest, where that is down)
// the figure falls further short of each frame's start, by the part of a
// tick that a frame lasts beyond its whole ticks. The frame of a time
// forgives that: frame i begins at i x (ticks per frame rounded down) where
// that is earlier than its start rounded down, as long as it is within a
// kHostDriftFramePart-th of a frame of the exact start, beyond which the
// allowance stays that fraction (about 4 x 10^9 frames in at 11 frames per
// second on the stand-in clock). So the frame of a time is the quotient of
// time and ticks per frame rounded down, the plain one where ticks per frame
// is whole.
//
// Products are taken in 128 bits: ticks per second near 2^38 times a part
// near 2^31 times a frame number passes 2^63 by far.
#pragma once

#include <cstdint>
#include <string>

namespace keo {

struct FrameRate {
    int64_t num = 0; // frames per second = num / den, in any terms
    int64_t den = 1;
};

// A time in seconds, exactly: num / den, den above 0.
struct Seconds {
    int64_t num = 0;
    int64_t den = 1;
};

// --- The rate as a fraction (FrameRate.cpp) ---

// Both terms above 0.
inline bool isRate(FrameRate r) {
    return r.num > 0 && r.den > 0;
}
// Lowest terms; a rate with a term of 0 or below comes back as it was.
FrameRate reduced(FrameRate r);
// The same number of frames per second, in whatever terms.
bool sameRate(FrameRate a, FrameRate b);
// The nearest fraction whose terms are at most maxNum and maxDen (each held
// to 1 .. 2^31 - 1): a measured or averaged rate brought to terms that
// 32-bit fields hold. A rate below the least the terms can state comes
// back as 1 / maxDen, one above the most as maxNum / 1.
FrameRate closestRate(FrameRate exact, int64_t maxNum, int64_t maxDen);

// The fastest rate a movie is written at: far beyond any camera's, and a
// frame of it still lasts a quarter of a million ticks of a host's clock.
constexpr int64_t kMaxMovieFramesPerSecond = 1000000;
// True for a rate a movie holds exactly: terms below 2^31 (its 32-bit time
// scale and sample duration) and at most kMaxMovieFramesPerSecond. Otherwise
// false, with a sentence that says so in *why when why is not null.
bool rateFitsMovie(FrameRate r, std::string* why = nullptr);

// "25", "12.5", "30000/1001", and the decimal shorthands of the 1001-based
// rates ("23.976", "29.97", "59.94", also "23.98"): a decimal within half a
// unit of its last digit of M x 1000/1001 means exactly that rate, as every
// editing host reads it. In lowest terms, both terms at most 10^9; false
// (with a reason) for text that is not a positive rate.
bool parseFrameRate(const std::string& text, FrameRate* rate, std::string* why);
// "25", "29.97 (30000/1001)", "12.5 (25/2)".
std::string frameRateText(FrameRate r);

// --- The eight standard rates (FrameRate.cpp) ---

// In the order of a host's rate codes 1 to 8.
constexpr FrameRate kStandardFrameRates[8] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                              {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};
// The standard rate that a stored (scale, sampleSize) pair names, as 1 to 8
// (kStandardFrameRates[code - 1]), or 0: a whole rate exactly, in any terms
// (48/2, 600/24, 90000/3600); a 1001-based rate in its canonical pair, the
// notations that writers use (2997/100, 29970/1000, 90000/3003, ...) or any
// pair that reads as its digits (from 29.97 up to but not including 29.98).
// Its quotients are taken in 128 bits, so no pair overflows them.
int standardRateCode(int64_t scale, int64_t sampleSize);
// The standard rate within 0.1% of `r` (the nearest, where two are: 23.976
// and 24 are 0.1% apart), else `r` as it was.
FrameRate snapToStandardRate(FrameRate r);

// --- Frames and host ticks (FrameTime.cpp) ---

// The clock of keo's stand-in host, through which keo export writes its
// movies; every standard frame rate and every common sound rate divides it.
constexpr int64_t kStandInTicksPerSecond = 254016000000LL;
// How much of a frame a host's stepping may fall short of its start and
// still find it.
constexpr int kHostDriftFramePart = 16; // a sixteenth

// True when both terms are below 2^31 and a frame lasts at least one tick
// and at most INT64_MAX ticks; the functions below answer 0 or -1 for a
// clock that does not run.
bool clockRuns(FrameRate r, int64_t ticksPerSecond);
// Ticks per frame to the nearest tick (halves up): the figure a host is shown
// and exports at.
int64_t ticksPerFrame(FrameRate r, int64_t ticksPerSecond);
// The start of `frame` rounded down to a tick (negative frames too), held to
// the 64-bit range.
int64_t frameStartTicks(FrameRate r, int64_t ticksPerSecond, int64_t frame);
// The frame a host means by `ticks` (see above): -1 before frame 0; no upper
// bound, so the caller checks it against the frame count. Frame i lasts from
// the tick where it begins (the tick of its start rounded down, or earlier
// where a host stepping by rounded-down ticks per frame would ask) to the
// tick before frame i + 1 begins; any time in the middle of a frame is that
// frame, as long as a frame lasts 3 ticks or more.
int64_t frameAtTicks(FrameRate r, int64_t ticksPerSecond, int64_t ticks);
// Sample frames of sound in one frame of `ticksPerFrame` ticks, rounded up:
// the largest block a host's audio renderer hands an exporter, asked with
// the export's ticks per frame, and so the size of each chunk of sound in an
// exported movie. keomux cuts its sound the same way, so that it writes the
// bytes keo export writes. 0 when any argument is not positive; held to the
// 64-bit range.
int64_t soundBlockFrames(int64_t ticksPerFrame, int64_t ticksPerSecond, int64_t sampleRate);

// --- Frames and exact seconds (FrameTime.cpp) ---

// When `frame` starts, frame x den / num seconds in lowest terms; false for
// a negative frame, a term that is not above 0, or a start whose terms do
// not fit 64 bits.
bool frameStartSeconds(FrameRate r, int64_t frame, Seconds* start);
// The frame whose interval [i / rate, (i + 1) / rate) holds `t`, exactly:
// -1 for a time before 0 or a rate or time whose terms are not above 0;
// held to the 64-bit range.
int64_t frameAtSeconds(FrameRate r, Seconds t);

} // namespace keo
