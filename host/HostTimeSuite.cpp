// The Time Suite: 254,016,000,000 ticks per second.
//
// That number is divisible by every standard frame duration (including the
// 1001-based ones) and by every common audio rate, so ticks per frame and per
// sample are exact integers and equal rates always give equal tick counts.
#include "HostState.h"

#include <cmath>

namespace keo::host {
namespace {

// Codes 1 to 8 are the standard rates in keo::kStandardFrameRates' order;
// their ticks per frame, kTicksPerSecond x den / num, are whole.
static_assert(kTicksPerSecond * 1001 % 24000 == 0 && kTicksPerSecond * 1001 % 60000 == 0,
              "the 1001-based rates must be exact");

prSuiteError getTicksPerSecond(PrTime* out) {
    if (!out)
        return suiteError_InvalidParms;
    *out = kTicksPerSecond;
    return suiteError_NoError;
}

prSuiteError getTicksPerVideoFrame(PrVideoFrameRate rate, PrTime* out) {
    if (!out || rate < PrVideoFrameRate_23_976 || rate > PrVideoFrameRate_60)
        return suiteError_InvalidParms;
    *out = keo::ticksPerFrame(keo::kStandardFrameRates[rate - 1], kTicksPerSecond);
    return suiteError_NoError;
}

PrSDKTimeSuite g_timeSuite = {getTicksPerSecond, getTicksPerVideoFrame, ticksPerAudioSample};

} // namespace

prSuiteError ticksPerAudioSample(float sampleRate, PrTime* out) {
    if (!out)
        return suiteError_InvalidParms;
    // Only whole rates that divide the clock give an exact tick count; any
    // other would make sample positions drift, so it is refused.
    if (!(sampleRate >= 1.0f) || sampleRate > 1e9f || std::floor(sampleRate) != sampleRate)
        return suiteError_InvalidParms;
    PrTime rate = static_cast<PrTime>(sampleRate);
    if (kTicksPerSecond % rate != 0)
        return suiteError_InvalidParms;
    *out = kTicksPerSecond / rate;
    return suiteError_NoError;
}

PrSDKTimeSuite* timeSuiteTable() {
    return &g_timeSuite;
}

} // namespace keo::host
