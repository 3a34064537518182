// The frames of an export from still files, decoded ahead of it.
//
// A 1080p PNG takes longer to decode than the export of its frame on two
// threads, so one file at a time would hold the export back. With workers,
// files are decoded on that many threads (tools/keo/FramePipeline.h) from
// the first one on, at most a few frames in flight, each into memory of a
// frame the export is done with, and each picture is lent to the export
// where its decode put it. Without workers each file is decoded when its
// frame is asked for.
//
// Frames come in file order, and a file that cannot be read, or whose size
// is not the first one's, is reported by name when the export reaches its
// frame, after the frames before it are written: as if it were decoded
// there.
#pragma once

#include "FramePipeline.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace keo::tool {

class StillFrames {
public:
    // Reads the first file (its size is the movie's) and starts the workers
    // on those after it. Throws Failure naming the first file.
    StillFrames(const std::vector<std::string>& files, int workers);
    StillFrames(const StillFrames&) = delete;
    StillFrames& operator=(const StillFrames&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }

    // Frame `index` (asked for with 0, 1, 2, ...): RGBA, top row first, rows
    // *pitch bytes apart, valid until the next call; null past the last
    // file. Throws Failure naming the file.
    const uint8_t* lend(int64_t index, size_t* pitch);

private:
    // Hands the pipeline the next files, up to its slots (without workers,
    // up to frame `index` only).
    void submitUpTo(int64_t index);
    // Takes frame `index` back from the pipeline into lent_.
    void take(int64_t index);

    const std::vector<std::string>& files_;
    const bool ahead_;
    const int slots_;
    int window_; // frames in flight at most, up to slots_
    // Each frame's size, as its decode found it.
    std::vector<std::pair<int, int>> sizes_;
    int width_ = 0, height_ = 0;
    std::vector<uint8_t> lent_; // the pixels of the frame lent last
    int64_t submitted_ = 0;
    int64_t taken_ = 0;
    // Last: its workers stop before the rest goes.
    FramePipeline pipeline_;
};

} // namespace keo::tool
