// A length in frames as a timecode, the way editors read durations.
//
// HH:MM:SS:FF at the rate's nominal whole rate (24 for 24000/1001, 25, 30,
// ...). 30000/1001 and 60000/1001 use drop-frame timecode, HH:MM:SS;FF,
// which skips 2 (or 4) frame numbers each minute but every tenth so that
// the timecode keeps up with the clock.
#pragma once

#include <cstdint>
#include <string>

namespace keo::lib {

std::string timecodeOf(int64_t frames, int64_t rateNum, int64_t rateDen);

} // namespace keo::lib
