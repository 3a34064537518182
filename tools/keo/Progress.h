// A one-line progress bar with frames per second, on stderr.
//
// It draws only when stderr is a terminal, so pipes and logs stay clean, and
// redraws at most ten times a second so it never costs noticeable time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace keo::tool {

struct Progress {
    bool enabled = false;
    std::string label;
    int64_t total = 0;
    int64_t done = 0;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDraw;
    bool drawn = false;
};

// total <= 0: the count is not known in advance (the bar shows only counts).
void progressStart(Progress& p, const std::string& label, int64_t total);
void progressStep(Progress& p, int64_t done);
// Ends the line if anything was drawn.
void progressEnd(Progress& p);

} // namespace keo::tool
