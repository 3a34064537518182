// Conversions between host ticks and a movie's (scale, sampleSize) frame rate.
//
// The host counts time in ticks whose rate only its Time Suite knows; a movie
// states frames per second as scale / sampleSize. Eight standard rates are
// recognised in their many notations (base/FrameRate.h, standardRateCode),
// so that what the host is told is the canonical pair of the rate.
#pragma once

#include <cstdint>

#include "KEOHostAPI.h"
#include "base/FrameRate.h"

// Recognises the rate scale / sampleSize as one of the eight standard rates
// and writes the Time Suite's ticks per frame of it to *ticksPerFrame.
// Returns the rate code (1 to 8), or 0 with nothing written when the rate is
// not one of them or the suite cannot answer.
int ConvertScaleSampleSizeToPrTime(PrSDKTimeSuite* timeSuite, int* scale, int* sampleSize,
                                   long long* ticksPerFrame);

// Rewrites (scale, sampleSize) from ticks per frame: a whole number of frames
// per second becomes (fps, 1), the three 1001-based rates their canonical
// pairs; anything else is left as it was. Returns 0.
int ConvertPrTimeToScaleSampleSize(PrSDKTimeSuite* timeSuite, long long ticksPerFrame, int* scale,
                                   int* sampleSize);

// Ticks per frame of a rate that is not a standard one:
// round(ticks per second x sampleSize / scale). False when scale or
// sampleSize is not positive, the suite cannot answer, or the result is 0 or
// does not fit.
bool DeriveTicksPerFrame(PrSDKTimeSuite* timeSuite, int scale, int sampleSize,
                         long long* ticksPerFrame);

// The rate of a movie whose frames last unequal times, `frames` of them
// over the time they take (MovFile::tableFrameRate), as the host is to be
// told it: the standard rate within 0.1% of it, else the nearest fraction
// whose terms the host's 32-bit fields hold, the duration (frames times the
// sample size) too.
keo::FrameRate MeasuredFrameRate(keo::FrameRate average, int frames);

// The rate to tell the host for a movie's stored rate, and its ticks per
// frame: a standard rate as its canonical pair with the suite's ticks; any
// other rate as the movie states it, in lowest terms, with its ticks to the
// nearest. False (nothing written) for a pair that is no rate.
bool TellFrameRate(PrSDKTimeSuite* timeSuite, keo::FrameRate stored, keo::FrameRate* told,
                   long long* ticksPerFrame);

// The frame a host means by host time `time` at the rate it was told
// (keo::frameAtTicks), in a movie of `frames` frames: a time before the end
// of the movie, rounded down to a tick, is at most its last frame. -1
// before frame 0 or when the suite cannot answer; `frames` or more past the
// end.
int64_t FrameOfHostTime(PrSDKTimeSuite* timeSuite, keo::FrameRate told, int64_t frames,
                        PrTime time);
