// Frames read ahead of the export: the same frames in the same order with
// and without the reader thread, the feed's end and failures delivered at
// the frame where they happen, and a reader stopped early.
#include "libkeo/Failure.h"
#include "libkeo/FramesAhead.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace keo::lib;

namespace {

constexpr size_t kFrameBytes = 64;

// Frame i is kFrameBytes copies of i; the feed ends after `count` frames, or
// fails at frame `failAt`.
FrameFeed numberedFrames(int64_t count, int64_t failAt, std::atomic<int64_t>* calls) {
    return [=](int64_t i, uint8_t* rgba) {
        ++*calls;
        if (i == failAt)
            fail("frame " + std::to_string(i), "cannot be read");
        if (i >= count)
            return false;
        for (size_t k = 0; k < kFrameBytes; ++k)
            rgba[k] = static_cast<uint8_t>(i);
        return true;
    };
}

TEST(FramesAhead, EveryFrameInOrderWithAndWithoutTheReader) {
    for (bool ahead : {false, true}) {
        std::atomic<int64_t> calls{0};
        const FrameFeed feed = numberedFrames(40, -1, &calls);
        FramesAhead frames(feed, kFrameBytes, ahead);
        for (int64_t i = 0; i < 40; ++i) {
            const uint8_t* pixels = frames.next();
            ASSERT_NE(pixels, nullptr) << "frame " << i << (ahead ? ", ahead" : "");
            EXPECT_EQ(pixels[0], static_cast<uint8_t>(i));
            EXPECT_EQ(pixels[kFrameBytes - 1], static_cast<uint8_t>(i));
        }
        EXPECT_EQ(frames.next(), nullptr);
        EXPECT_EQ(frames.next(), nullptr);
        // The feed is asked once past the last frame, and never again.
        EXPECT_EQ(calls.load(), 41);
    }
}

TEST(FramesAhead, AFailureReachesTheExportAtItsFrame) {
    for (bool ahead : {false, true}) {
        std::atomic<int64_t> calls{0};
        const FrameFeed feed = numberedFrames(40, 5, &calls);
        FramesAhead frames(feed, kFrameBytes, ahead);
        for (int64_t i = 0; i < 5; ++i)
            ASSERT_NE(frames.next(), nullptr) << i;
        EXPECT_THROW(frames.next(), Failure);
        EXPECT_EQ(frames.next(), nullptr);
    }
}

TEST(FramesAhead, AReaderLeftBehindIsStopped) {
    std::atomic<int64_t> calls{0};
    const FrameFeed feed = numberedFrames(1000, -1, &calls);
    {
        FramesAhead frames(feed, kFrameBytes, true);
        ASSERT_NE(frames.next(), nullptr);
    }
    // Two buffers: the reader is at most one frame ahead of the export.
    EXPECT_LE(calls.load(), 3);
    FramesAhead unused(feed, kFrameBytes, true);
}

} // namespace
