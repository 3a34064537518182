// Frame times for the Python module, counted as the importer counts them.
//
// A movie runs at scale / sampleSize frames per second (the rate the host is
// told). Frame i starts at i x sampleSize / scale seconds, exactly. The frame
// of a time is the importer's answer for it: the time in whole host ticks,
// rounded down, and the frame whose interval holds that tick
// (base/FrameRate.h's frameAtTicks on the stand-in host's clock), so that
// movie.index_at(t) names the frame a host asking at t receives, and
// index_at(time_of(i)) is i.
#pragma once

#include "base/FrameRate.h"
#include "libkeo/PluginSession.h"

#include <cstdint>

namespace keo::python {

constexpr int64_t kHostTicksPerSecond = keo::kStandInTicksPerSecond;

// The frame whose interval holds `ticks` host ticks; -1 before frame 0. No
// upper bound: the caller checks it against the frame count.
inline int64_t frameAtHostTicks(const keo::lib::MovieInfo& m, int64_t ticks) {
    return keo::frameAtTicks(keo::FrameRate{m.scale, m.sampleSize}, kHostTicksPerSecond, ticks);
}

} // namespace keo::python
