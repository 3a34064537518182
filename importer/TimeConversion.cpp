// Frame rates between movie (scale, sampleSize) pairs and host ticks.
#include "importer/TimeConversion.h"

#include <cstdint>
#include <numeric>

#include "base/FrameClock.h"

namespace {

// c / s is exactly the whole rate n (48/2 is 24 frames per second, 49/2 is
// not: read as 24, a 24.5 fps movie would play slow and drift from its
// sound).
bool isWhole(int64_t c, int64_t s, int64_t n) {
    return s != 0 && c % s == 0 && c / s == n;
}

// Which standard rate code (1 to 8) a pair names, or 0. The notations of the
// 1001-based rates are taken to the digits they are written with (2997/100,
// or anything from 29.970 to 29.979..., is 29.97); a whole rate only
// exactly. Products and quotients are taken in 64 bits so that no scale
// overflows them.
int RateCode(int64_t c, int64_t s) {
    // A pair stored as 25/2 is 12.5 frames per second: the bare "scale is
    // the rate" shortcuts only hold for a sample size of 1.
    bool unit = s == 1;
    if ((s == 1001 && c == 24000) || (c == 2397 && s == 100) || (c == 90000 && s == 3754) ||
        (c == 23976 && s == 1000) || c * 1000 / s == 23976)
        return PrVideoFrameRate_23_976;
    if ((unit && c == 24) || (c == 24024 && s == 1001) || (c == 90000 && s == 3750) ||
        isWhole(c, s, 24))
        return PrVideoFrameRate_24;
    if ((unit && c == 25) || (c == 600 && s == 24) || (c == 90000 && s == 3600) ||
        isWhole(c, s, 25))
        return PrVideoFrameRate_25;
    if ((s == 1001 && c == 30000) || (c == 2997 && s == 100) || (c == 29970 && s == 1000) ||
        (c == 90000 && s == 3003) || c * 100 / s == 2997)
        return PrVideoFrameRate_29_97;
    if ((unit && c == 30) || (c == 600 && s == 20) || (c == 90000 && s == 3000) ||
        isWhole(c, s, 30))
        return PrVideoFrameRate_30;
    if ((unit && c == 50) || (c == 600 && s == 12) || (c == 90000 && s == 1800) ||
        isWhole(c, s, 50))
        return PrVideoFrameRate_50;
    if ((s == 1001 && c == 60000) || (c == 5994 && s == 100) || (c == 90000 && s == 1502) ||
        c * 100 / s == 5994)
        return PrVideoFrameRate_59_94;
    if ((unit && c == 60) || (c == 600 && s == 10) || (c == 90000 && s == 1500) ||
        isWhole(c, s, 60))
        return PrVideoFrameRate_60;
    return 0;
}

} // namespace

int ConvertScaleSampleSizeToPrTime(PrSDKTimeSuite* timeSuite, int* scale, int* sampleSize,
                                   long long* ticksPerFrame) {
    if (!timeSuite || !scale || !sampleSize || !ticksPerFrame || *sampleSize == 0)
        return 0;
    int code = RateCode(*scale, *sampleSize);
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
    static const struct {
        PrVideoFrameRate code;
        int scale;
    } kDropRates[] = {
        {PrVideoFrameRate_29_97, 30000},
        {PrVideoFrameRate_59_94, 60000},
        {PrVideoFrameRate_23_976, 24000},
    };
    for (const auto& rate : kDropRates) {
        PrTime ticks = 0;
        if (timeSuite->GetTicksPerVideoFrame(rate.code, &ticks) == suiteError_NoError &&
            ticks == ticksPerFrame) {
            *scale = rate.scale;
            *sampleSize = 1001;
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
    const int64_t ticks = keo::nominalTicksPerFrame({perSecond, scale, sampleSize});
    if (ticks <= 0)
        return false;
    *ticksPerFrame = ticks;
    return true;
}

bool TellFrameRate(PrSDKTimeSuite* timeSuite, int* scale, int* sampleSize,
                   long long* ticksPerFrame) {
    if (!timeSuite || !scale || !sampleSize || !ticksPerFrame)
        return false;
    int c = *scale;
    int s = *sampleSize;
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
        const int g = std::gcd(c, s);
        c /= g;
        s /= g;
        if (!DeriveTicksPerFrame(timeSuite, c, s, &ticks))
            return false;
    }
    if (ticks <= 0)
        return false;
    *scale = c;
    *sampleSize = s;
    *ticksPerFrame = ticks;
    return true;
}

int64_t FrameOfHostTime(PrSDKTimeSuite* timeSuite, int scale, int sampleSize, PrTime time) {
    PrTime perSecond = 0;
    if (!timeSuite || timeSuite->GetTicksPerSecond(&perSecond) != suiteError_NoError)
        return -1;
    return keo::frameAtTicks({perSecond, scale, sampleSize}, time);
}
