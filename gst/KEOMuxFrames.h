// keomux's frames on the movie's time line: the slot of the movie's rate
// each frame's timestamp falls in, and the rate itself when neither the
// caps nor the `framerate` property give one.
//
// A movie holds one frame per slot of its rate, slot 0 starting at the first
// frame. A frame takes the slot nearest its timestamp; keomux repeats the
// last frame for slots no frame came for (a frame dropped upstream, a GAP
// event) and keeps the later of two frames for one slot, as videorate does
// for keo export.
//
// Without a rate given, frames must come at one rate, which their
// timestamps give as a whole: the least-squares slope of time against frame
// number, so no single interval decides it, snapped to the nearest standard
// rate within 0.1%. They fit it when every frame lies within half a frame
// of its own slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/FrameRate.h"

// A rate measured in frames per second as a fraction: the standard rate
// within 0.1% of it (base/FrameRate.h), else its own nearest fraction.
// False for one that is no rate.
bool KEOMeasuredRate(double fps, keo::FrameRate* rate);

// The slot of a frame at `ns` on a movie at `rate` whose slot 0 starts at
// `zeroNs` (the nearest, halves up; negative before it), and the time a
// slot starts at.
int64_t KEOSlotAt(int64_t ns, int64_t zeroNs, keo::FrameRate rate);
int64_t KEOSlotStart(int64_t slot, int64_t zeroNs, keo::FrameRate rate);

// The rate of frames that came at `times` (ns, in order); false for fewer
// than two frames or times that give no rate a movie holds.
bool KEORateOfTimes(const std::vector<int64_t>& times, keo::FrameRate* rate);
// True when every frame lies within half a frame of its own slot at `rate`,
// the slots placed where they fit the frames best; `worst` receives the
// frame farthest from its slot.
bool KEOTimesFitRate(const std::vector<int64_t>& times, keo::FrameRate rate, size_t* worst);
