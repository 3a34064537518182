// Frames read ahead of the export: while the exporter renders, encodes and
// writes frame i, a reader thread fills frame i + 1 (draws the test pattern,
// decodes a PNG, reads raw bytes from a pipe), so that getting the pictures
// is off the export's critical path.
//
// Two frame buffers take turns: the one the export is using, and the one
// the reader fills. The feed is called with rising indices from 0, only ever
// on one thread at a time. A failure the feed throws reaches the export when
// it asks for that frame, as if the feed had been called there.
//
// Without `ahead` nothing is started: frames are read on the calling thread
// when asked for, into one buffer, which is what an export told to use one
// thread wants. The buffers are not cleared (the feed fills them) and are
// in huge pages (base/PictureMemory.h): their first touch, by the reader,
// is part of an export's start-up otherwise.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "libkeo/MovieExport.h"

namespace keo::lib {

class FramesAhead {
public:
    FramesAhead(const FrameFeed& feed, size_t frameBytes, bool ahead);
    // Stops the reader after the frame it is reading, if any.
    ~FramesAhead();
    FramesAhead(const FramesAhead&) = delete;
    FramesAhead& operator=(const FramesAhead&) = delete;

    // The next frame's pixels, valid until the next call; null when the feed
    // has no more. Throws what the feed threw for this frame.
    const uint8_t* next();

private:
    enum class State { Empty, Ready, End, Failed };
    struct Slot {
        uint8_t* pixels = nullptr;
        State state = State::Empty;
        std::exception_ptr failure;
    };

    void readerLoop();
    // Calls the feed for frame `index` into `slot`; the slot's new state.
    State fill(int64_t index, Slot& slot);
    // The slot of frame `index`: both take turns when reading ahead.
    Slot& slotOf(int64_t index) { return slots_[ahead_ ? index % 2 : 0]; }

    const FrameFeed& feed_;
    bool ahead_;
    Slot slots_[2];
    int64_t nextIndex_ = 0; // the frame next() hands out
    bool handedOut_ = false;
    bool finished_ = false; // the feed ended or failed: no more frames
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::thread reader_;
};

} // namespace keo::lib
