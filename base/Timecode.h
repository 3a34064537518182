// A length in frames as a timecode, the way editors read durations.
//
// HH:MM:SS:FF at the rate's nominal whole rate (24 for 24000/1001, 25, 30,
// ...). 30000/1001 and 60000/1001 use drop-frame timecode, HH:MM:SS;FF,
// which skips 2 (or 4) frame numbers each minute but every tenth so that
// the timecode keeps up with the clock.
#pragma once

#include <cstdint>
#include <string>

#include "base/FrameRate.h"

namespace keo {

// "" for a negative count or a rate whose parts are not above 0.
std::string timecodeOf(int64_t frames, FrameRate rate);

} // namespace keo
