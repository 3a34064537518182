// Frame rates between movie (scale, sampleSize) pairs and host ticks.
#include "importer/TimeConversion.h"

#include <climits>
#include <cstdint>

int ConvertScaleSampleSizeToPrTime(PrSDKTimeSuite* timeSuite, int* scale, int* sampleSize,
                                   long long* ticksPerFrame) {
    if (!timeSuite || !scale || !sampleSize || !ticksPerFrame || *sampleSize == 0)
        return 0;
    const int code = keo::standardRateCode(*scale, *sampleSize);
    if (code == 0)
        return 0;
    PrTime ticks = 0;
    if (timeSuite->GetTicksPerVideoFrame(code, &ticks) != suiteError_NoError)
        return 0;
    *ticksPerFrame = ticks;
    return code;
}

int ConvertPrTimeToScaleSampleSize(PrSDKTimeSuite* timeSuite, long long ticksPerFrame, int* scale,
                                   int* sampleSize) {
    if (!timeSuite || !scale || !sampleSize || ticksPerFrame <= 0)
        return 0;
    PrTime perSecond = 0;
    if (timeSuite->GetTicksPerSecond(&perSecond) != suiteError_NoError || perSecond <= 0)
        return 0;
    // A whole number of frames per second that an int can carry.
    if (perSecond % ticksPerFrame == 0 && perSecond / ticksPerFrame <= INT32_MAX) {
        *scale = static_cast<int>(perSecond / ticksPerFrame);
        *sampleSize = 1;
        return 0;
    }
    for (PrVideoFrameRate code :
         {PrVideoFrameRate_29_97, PrVideoFrameRate_59_94, PrVideoFrameRate_23_976}) {
        PrTime ticks = 0;
        if (timeSuite->GetTicksPerVideoFrame(code, &ticks) == suiteError_NoError &&
            ticks == ticksPerFrame) {
            const keo::FrameRate canonical = keo::kStandardFrameRates[code - 1];
            *scale = static_cast<int>(canonical.num);
            *sampleSize = static_cast<int>(canonical.den);
            return 0;
        }
    }
    return 0;
}

bool DeriveTicksPerFrame(PrSDKTimeSuite* timeSuite, int scale, int sampleSize,
                         long long* ticksPerFrame) {
    if (!timeSuite || !ticksPerFrame)
        return false;
    PrTime perSecond = 0;
    if (timeSuite->GetTicksPerSecond(&perSecond) != suiteError_NoError)
        return false;
    const int64_t ticks = keo::ticksPerFrame({scale, sampleSize}, perSecond);
    if (ticks <= 0)
        return false;
    *ticksPerFrame = ticks;
    return true;
}

keo::FrameRate MeasuredFrameRate(keo::FrameRate average, int frames) {
    const keo::FrameRate standard = keo::snapToStandardRate(average);
    if (!keo::sameRate(standard, average) || frames < 1)
        return standard;
    return keo::closestRate(average, INT32_MAX, INT32_MAX / frames);
}

bool TellFrameRate(PrSDKTimeSuite* timeSuite, keo::FrameRate stored, keo::FrameRate* told,
                   long long* ticksPerFrame) {
    if (!timeSuite || !told || !ticksPerFrame || stored.num < INT32_MIN || stored.num > INT32_MAX ||
        stored.den < INT32_MIN || stored.den > INT32_MAX)
        return false;
    int c = static_cast<int>(stored.num);
    int s = static_cast<int>(stored.den);
    long long ticks = 0;
    if (ConvertScaleSampleSizeToPrTime(timeSuite, &c, &s, &ticks) != 0) {
        ConvertPrTimeToScaleSampleSize(timeSuite, ticks, &c, &s);
    } else {
        // Not through ConvertPrTimeToScaleSampleSize: rounded ticks that
        // happen to divide the clock would name another rate than the one
        // frames are found by. Lowest terms leave the host's 32-bit duration
        // the most room.
        if (c <= 0 || s <= 0)
            return false;
        const keo::FrameRate lowest = keo::reduced({c, s});
        c = static_cast<int>(lowest.num);
        s = static_cast<int>(lowest.den);
        if (!DeriveTicksPerFrame(timeSuite, c, s, &ticks))
            return false;
    }
    if (ticks <= 0)
        return false;
    *told = {c, s};
    *ticksPerFrame = ticks;
    return true;
}

int64_t FrameOfHostTime(PrSDKTimeSuite* timeSuite, keo::FrameRate told, int64_t frames,
                        PrTime time) {
    PrTime perSecond = 0;
    if (!timeSuite || timeSuite->GetTicksPerSecond(&perSecond) != suiteError_NoError)
        return -1;
    const int64_t frame = keo::frameAtTicks(told, perSecond, time);
    // The frame after the last begins a little before the movie's end, for
    // hosts that step by rounded-down ticks per frame; but there is none,
    // and the time is still inside the movie.
    if (frame == frames && frames > 0 && time < keo::frameStartTicks(told, perSecond, frames))
        return frames - 1;
    return frame;
}
