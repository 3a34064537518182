// A one-line progress bar with frames per second, on stderr.
//
// It draws only when stderr is a terminal and --quiet was not given, and
// redraws one line at most ten times a second. Commands in one pipe share
// the terminal: the first to start a bar holds a lock on it and the others
// stay silent, so two bars never write over each other.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "libkeo/MovieExport.h"

namespace keo::tool {

struct Progress {
    bool enabled = false;
    int lockFd = -1; // the terminal, locked while this bar owns it
    std::string label;
    int64_t total = 0;
    int64_t done = 0;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDraw;
    bool drawn = false;

    Progress() = default;
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    ~Progress();
};

// total <= 0: the count is not known in advance (the bar shows only counts).
void progressStart(Progress& p, const std::string& label, int64_t total, bool quiet);
void progressStep(Progress& p, int64_t done);
// Clears the line so that a message can be printed; the next step redraws.
void progressPause(Progress& p);
// Ends the line if anything was drawn and gives the terminal back.
void progressEnd(Progress& p);

// Whether this process may draw on the terminal open at `fd`: true when no
// other process holds the terminal's progress lock. On true, *lockFd holds
// the lock until it is closed.
bool claimTerminal(int fd, int* lockFd);

// keo::lib::exportMovie with a bar that counts its frames towards `expected`
// (0: not known).
keo::lib::ExportStats exportWithProgress(const keo::lib::ExportSettings& s,
                                         const keo::lib::FrameFeed& frames,
                                         const keo::lib::AudioFeed& audio, int64_t expected,
                                         bool quiet);
keo::lib::ExportStats exportWithProgress(const keo::lib::ExportSettings& s,
                                         const keo::lib::PictureSource& pictures,
                                         const keo::lib::AudioFeed& audio, int64_t expected,
                                         bool quiet);

} // namespace keo::tool
