// What the two halves of bench_export share: the stages of one exported
// frame, timed alone, and the keo programs that are run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RunProgram.h"

namespace keo::bench {

// Milliseconds per frame of each stage of an export, on one thread unless
// said (export.cpp says what each one covers).
struct Stages {
    double feed = 0, render = 0, conversion = 0, encode1 = 0, encode2 = 0, write = 0;
    double serial() const { return render + conversion + write; }
    double oneThread() const { return feed + render + conversion + encode1 + write; }
};

// A keo to run, and what the output calls it.
struct Keo {
    std::string path;
    std::string name;
};

// The keo built beside the benchmark (or the one $KEO_BENCH_KEO names), and
// after it the one $KEO_BENCH_BEFORE names, when it names one: a build from
// before a change, run alongside, so that one output shows both.
std::vector<Keo> keosToRun();

// keo export --input of a 10 s 1920x1080 MJPEG movie made from `rgba` (the
// picture, RGBA, top row first) against the GStreamer pipeline that writes
// the same bytes, with `threads` encoder threads for both: where a frame's
// time goes, the times of both, and whether keo is within the goal. False
// when the goal is not met or something failed (said on stderr).
bool benchMovieInput(const std::string& folder, const std::vector<uint8_t>& rgba,
                     const char* picture, const Stages& stages, int threads);

} // namespace keo::bench
