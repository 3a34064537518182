// FramePipeline, which keo decode and keo sheet use to encode and shrink
// frames on worker threads while the next ones are fetched: results come
// back in the order the frames went in whatever order the workers finish
// them, no more frames are in flight than it has slots, and a failure
// reaches the caller at its own frame, after the frames before it.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "FramePipeline.h"

namespace keo::tool {
namespace {

constexpr size_t kFrameBytes = 64;

// The work: a result made of the frame's first byte and its tag, after a
// pause that makes later frames finish before earlier ones.
void slowFirstFrames(int64_t tag, const uint8_t* frame, std::vector<uint8_t>* result) {
    std::this_thread::sleep_for(std::chrono::microseconds(200 * (8 - tag % 8)));
    *result = {frame[0], static_cast<uint8_t>(tag)};
}

TEST(FramePipeline, ResultsComeBackInOrderWithinTheSlots) {
    for (int workers : {0, 1, 3})
        for (int slots : {2, 3, 6}) {
            std::vector<int64_t> taken;
            int inFlight = 0, mostInFlight = 0;
            FramePipeline pipeline(
                slowFirstFrames,
                [&](int64_t tag, std::vector<uint8_t>& result) {
                    EXPECT_EQ(result, (std::vector<uint8_t>{static_cast<uint8_t>(tag * 3),
                                                            static_cast<uint8_t>(tag)}));
                    taken.push_back(tag);
                    --inFlight;
                },
                kFrameBytes, workers, slots);
            for (int64_t tag = 0; tag < 20; ++tag) {
                uint8_t* frame = pipeline.nextBuffer();
                mostInFlight = std::max(mostInFlight, ++inFlight);
                frame[0] = static_cast<uint8_t>(tag * 3);
                pipeline.submit(tag);
                pipeline.collect(false);
            }
            pipeline.collect(true);
            SCOPED_TRACE(testing::Message() << workers << " workers, " << slots << " slots");
            std::vector<int64_t> expected(20);
            for (int64_t i = 0; i < 20; ++i)
                expected[i] = i;
            EXPECT_EQ(taken, expected);
            EXPECT_LE(mostInFlight, slots);
            EXPECT_EQ(inFlight, 0);
        }
}

// A frame the caller could not fetch is dropped: its buffer is used again
// and nothing is taken back for it.
TEST(FramePipeline, ADroppedBufferLeavesNoResult) {
    std::vector<int64_t> taken;
    FramePipeline pipeline(
        slowFirstFrames, [&](int64_t tag, std::vector<uint8_t>&) { taken.push_back(tag); },
        kFrameBytes, 2, 2);
    for (int64_t tag = 0; tag < 6; ++tag) {
        pipeline.nextBuffer()[0] = 0;
        if (tag % 3 == 1) {
            pipeline.drop();
            pipeline.collect(true);
            continue;
        }
        pipeline.submit(tag);
    }
    pipeline.collect(true);
    EXPECT_EQ(taken, (std::vector<int64_t>{0, 2, 3, 5}));
}

TEST(FramePipeline, AFailureArrivesAtItsOwnFrameAfterTheOnesBefore) {
    for (int workers : {0, 2}) {
        std::vector<int64_t> taken;
        FramePipeline pipeline(
            [](int64_t tag, const uint8_t* frame, std::vector<uint8_t>* result) {
                if (tag == 4)
                    throw std::runtime_error("frame 4 cannot be encoded");
                slowFirstFrames(tag, frame, result);
            },
            [&](int64_t tag, std::vector<uint8_t>&) { taken.push_back(tag); }, kFrameBytes, workers,
            3);
        std::string caught;
        try {
            for (int64_t tag = 0; tag < 10; ++tag) {
                pipeline.nextBuffer()[0] = 0;
                pipeline.submit(tag);
                pipeline.collect(false);
            }
            pipeline.collect(true);
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        EXPECT_EQ(caught, "frame 4 cannot be encoded") << workers << " workers";
        EXPECT_EQ(taken, (std::vector<int64_t>{0, 1, 2, 3})) << workers << " workers";
        // Leaving with frames still in flight stops the workers cleanly.
    }
}

// A caller that takes each result only when it needs it (an export's
// stills, whose order their own tests hold) takes one, and is told when
// there is none to wait for: none submitted, or a buffer handed out and not
// yet submitted.
TEST(FramePipeline, ResultsTakenOneAtATimeWhenNeeded) {
    for (int workers : {0, 2}) {
        std::vector<int64_t> taken;
        FramePipeline pipeline(
            slowFirstFrames, [&](int64_t tag, std::vector<uint8_t>&) { taken.push_back(tag); },
            kFrameBytes, workers, 3);
        EXPECT_FALSE(pipeline.takeNext());
        pipeline.nextBuffer()[0] = 0;
        pipeline.submit(0);
        pipeline.nextBuffer();
        EXPECT_TRUE(pipeline.takeNext());
        EXPECT_FALSE(pipeline.takeNext());
        EXPECT_EQ(taken, (std::vector<int64_t>{0})) << workers << " workers";
        pipeline.drop();
    }
}

TEST(FramePipeline, SlotsStayWithinAGibibyte) {
    EXPECT_EQ(FramePipeline::slotsFor(size_t(1920) * 1080 * 4, 2), 4);
    EXPECT_EQ(FramePipeline::slotsFor(size_t(400) << 20, 8), 2);
    EXPECT_EQ(FramePipeline::slotsFor(size_t(300) << 20, 8), 3);
}

} // namespace
} // namespace keo::tool
