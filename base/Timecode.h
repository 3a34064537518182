// A length in frames as a timecode, the way editors read durations.
//
// HH:MM:SS:FF. At a whole rate FF counts frames within the second, up to the
// rate; at the 1001-based rates M x 1000/1001 it counts them at the whole
// rate M, as every timecode of those rates does (24 for 23.976), and at
// 30000/1001 and 60000/1001 it is drop-frame timecode, HH:MM:SS;FF, which
// skips 2 (or 4) frame numbers each minute but every tenth so that the
// timecode keeps up with the clock. At any other rate (12.5, 24.5) HH:MM:SS
// is the time itself and FF the frames before this one that start within
// that second.
#pragma once

#include <cstdint>
#include <string>

#include "base/FrameRate.h"

namespace keo {

// "" for a negative count or a rate whose terms are not above 0.
std::string timecodeOf(int64_t frames, FrameRate rate);

} // namespace keo
