// Many frames of one movie fetched two at a time, on two importer records
// of it, one thread each: keo decode's raw frames, a slice or list of a
// Python movie, Python's iteration.
//
// An importer record reads one frame at a time, and a frame's decode keeps
// both cores of a small machine busy only in part; two frames, each fetched
// and used (converted, written) on its own thread, keep them busy all the
// time, and a larger machine gives each its own cores. The codec refuses a
// frame its helper threads while every core has a frame already, so two
// frames side by side never ask for more threads than there are cores.
#pragma once

#include "libkeo/PluginSession.h"

#include <cstddef>
#include <functional>
#include <vector>

namespace keo::lib {

// Frame k of the list: fetched with `result` (fetchFrameRows's), its rows
// where the host holds them, or null when the result is not 0. Runs on the
// thread that fetched the frame, which gives the host's frame back after it.
using SideBySideUse = std::function<void(size_t k, int result, const FrameRows* rows)>;

// Fetches frames `indices` on `first` and, when `second` is not null, on
// `second` as well, on a thread of its own; each thread takes the next frame
// of the list that nobody has taken yet. With `inOrder`, use is called for
// frame 0, then 1, 2, ... of the list (a thread whose frame's turn has not
// come fetches its next frame meanwhile, holding both, then waits); without,
// as each frame is fetched, two at once.
// `between` (may be empty) runs on the calling thread before each frame it
// fetches and returns false to stop there.
//
// The first exception that use, a fetch or `between` throws stops both
// threads after the frames they hold, and is thrown here when both have
// stopped; frames not used by then never are. Nothing of the caller's is
// touched once this returns.
void fetchFramesSideBySide(PluginSession& first, PluginSession* second,
                           const std::vector<int>& indices, bool inOrder, const SideBySideUse& use,
                           const std::function<bool()>& between = {});

} // namespace keo::lib
