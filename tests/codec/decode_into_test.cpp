// DecodeFramePayloadInto: the same pixels as DecodeFramePayload, flipped and
// spread to the caller's row pitch, padding left alone, and nothing written
// when the sample is refused.
#include <gtest/gtest.h>

#include <lzf.h>

#include <vector>

#include "codec/FramePayload.h"
#include "decode_support.h"

using namespace decode_test;

namespace {

constexpr unsigned char kUntouched = 0x3C;

// DecodeFramePayload's picture laid out as the host wants it: bottomUp puts
// the top row last, each row padded to `pitch` bytes with kUntouched.
std::vector<unsigned char> expectedFrame(const std::vector<unsigned char>& picture, int width,
                                         int height, long long pitch, bool bottomUp) {
    std::vector<unsigned char> frame(static_cast<size_t>(pitch) * height, kUntouched);
    for (int y = 0; y < height; ++y) {
        const int line = bottomUp ? height - 1 - y : y;
        std::memcpy(&frame[line * pitch], &picture[static_cast<size_t>(y) * width * 4], width * 4);
    }
    return frame;
}

struct IntoResult {
    int result;
    std::vector<unsigned char> frame;
};

IntoResult decodeInto(const std::vector<unsigned char>& sample, int width, int height,
                      long long pitch, bool bottomUp) {
    IntoResult out{0, std::vector<unsigned char>(static_cast<size_t>(pitch) * height, kUntouched)};
    const HeapBytes bytes(sample);
    out.result = DecodeFramePayloadInto(bytes.data(), static_cast<unsigned>(bytes.size), width,
                                        height, out.frame.data(), pitch, bottomUp);
    return out;
}

std::vector<unsigned char> plainSampleOf(Layout layout, int w, int h, uint32_t seed) {
    return plainSample(layout, randomBlockData(layout, w, h, seed));
}

TEST(DecodeInto, EqualsDecodeFramePayloadFlippedAndPadded) {
    const Layout layouts[] = {Layout::DXT1, Layout::DXT5, Layout::DXT24, Layout::DXT24Alpha};
    uint32_t seed = 40;
    for (Layout layout : layouts)
        for (int size : {1, 6, 19})
            for (bool bottomUp : {false, true})
                for (int pad : {0, 5}) {
                    const int w = size + 2, h = size;
                    const auto sample = plainSampleOf(layout, w, h, seed++);
                    const Decoded packed = decode(sample, w, h);
                    ASSERT_EQ(packed.result, 0);
                    const long long pitch = w * 4 + pad;
                    const IntoResult into = decodeInto(sample, w, h, pitch, bottomUp);
                    SCOPED_TRACE(testing::Message() << w << "x" << h << " pad " << pad
                                                    << (bottomUp ? " bottom-up" : ""));
                    EXPECT_EQ(into.result, 0);
                    EXPECT_EQ(into.frame, expectedFrame(packed.picture, w, h, pitch, bottomUp));
                }
}

TEST(DecodeInto, LZFAndShortPlainPayloadsMatchTheAllocatingDecode) {
    const int w = 45, h = 30;
    auto blocks = randomBlockData(Layout::DXT5, w, h, 50);
    for (size_t at = 16; at < blocks.size(); at += 16)
        if (at % 48 != 0)
            std::memcpy(&blocks[at], &blocks[at - 16], 16);
    const std::vector<unsigned char> packedSample = lzfSample(Layout::DXT5, blocks);
    ASSERT_FALSE(packedSample.empty());
    auto shortSample = plainSample(Layout::DXT5, blocks);
    shortSample.resize(shortSample.size() / 2);

    const std::vector<unsigned char>* samples[] = {&packedSample, &shortSample};
    for (const std::vector<unsigned char>* sample : samples) {
        const Decoded packed = decode(*sample, w, h);
        ASSERT_EQ(packed.result, 0);
        const IntoResult into = decodeInto(*sample, w, h, w * 4 + 8, true);
        EXPECT_EQ(into.result, 0);
        EXPECT_EQ(into.frame, expectedFrame(packed.picture, w, h, w * 4 + 8, true));
    }
}

// A movie's frames decoded one after another through one kept scratch: a
// scratch left holding an earlier frame's blocks (or sized for a smaller
// one) must not leak into the next picture, and it grows only for a frame
// whose blocks need more room than any before.
TEST(DecodeInto, KeptScratchGivesTheSamePicturesAndGrowsOnlyForLargerFrames) {
    const int w = 45, h = 30;
    auto repetitive = [](Layout layout, uint32_t seed) {
        auto blocks = randomBlockData(layout, w, h, seed);
        const size_t block = blockSizeOf(layout);
        for (size_t at = block; at < blocks.size(); at += block)
            if (at % (3 * block) != 0)
                std::memcpy(&blocks[at], &blocks[at - block], block);
        return blocks;
    };
    const auto dxt1 = lzfSample(Layout::DXT1, repetitive(Layout::DXT1, 80));
    const auto dxt5 = lzfSample(Layout::DXT5, repetitive(Layout::DXT5, 81));
    auto shortPlain = plainSample(Layout::DXT24, randomBlockData(Layout::DXT24, w, h, 82));
    shortPlain.resize(shortPlain.size() / 3);
    ASSERT_FALSE(dxt1.empty());
    ASSERT_FALSE(dxt5.empty());

    keo::ByteBuffer scratch;
    struct Step {
        const std::vector<unsigned char>* sample;
        size_t capacityAfter;
    };
    const Step steps[] = {{&dxt1, blockDataSize(Layout::DXT1, w, h)},
                          {&dxt5, blockDataSize(Layout::DXT5, w, h)},
                          {&shortPlain, blockDataSize(Layout::DXT5, w, h)},
                          {&dxt1, blockDataSize(Layout::DXT5, w, h)}};
    for (const Step& step : steps) {
        const Decoded packed = decode(*step.sample, w, h);
        ASSERT_EQ(packed.result, 0);
        std::vector<unsigned char> frame(static_cast<size_t>(w) * 4 * h, kUntouched);
        const HeapBytes bytes(*step.sample);
        EXPECT_EQ(DecodeFramePayloadInto(bytes.data(), static_cast<unsigned>(bytes.size), w, h,
                                         frame.data(), w * 4, true, &scratch),
                  0);
        EXPECT_EQ(frame, expectedFrame(packed.picture, w, h, w * 4, true));
        EXPECT_EQ(scratch.capacity, step.capacityAfter);
    }
    // A refused stream leaves the frame alone with a scratch too.
    auto cut = dxt5;
    cut.resize(cut.size() - 5);
    std::vector<unsigned char> frame(static_cast<size_t>(w) * 4 * h, kUntouched);
    EXPECT_EQ(DecodeFramePayloadInto(cut.data(), static_cast<unsigned>(cut.size()), w, h,
                                     frame.data(), w * 4, true, &scratch),
              99);
    EXPECT_EQ(frame, std::vector<unsigned char>(frame.size(), kUntouched));
    keo::release(scratch);
    EXPECT_EQ(scratch.bytes, nullptr);
}

TEST(DecodeInto, RefusedSamplesWriteNothing) {
    const int w = 16, h = 8;
    const auto good = plainSampleOf(Layout::DXT1, w, h, 60);

    auto badVersion = good;
    badVersion[4] = 2;
    auto badLZF = good;
    badLZF[6] = 1; // the plain blocks are no LZF stream of the right length
    const std::vector<unsigned char> headerOnly(good.begin(), good.begin() + 28);

    const std::vector<unsigned char>* samples[] = {&badVersion, &badLZF, &headerOnly};
    for (const std::vector<unsigned char>* sample : samples) {
        const IntoResult into = decodeInto(*sample, w, h, w * 4, true);
        EXPECT_EQ(into.result, 99);
        EXPECT_EQ(into.frame, std::vector<unsigned char>(into.frame.size(), kUntouched));
    }
}

TEST(DecodeInto, RefusesPitchesNarrowerThanARowAndMissingBuffers) {
    const int w = 8, h = 4;
    const auto sample = plainSampleOf(Layout::DXT24, w, h, 70);
    std::vector<unsigned char> frame(w * 4 * h, kUntouched);
    EXPECT_EQ(DecodeFramePayloadInto(sample.data(), static_cast<unsigned>(sample.size()), w, h,
                                     frame.data(), w * 4 - 1, false),
              99);
    EXPECT_EQ(DecodeFramePayloadInto(sample.data(), static_cast<unsigned>(sample.size()), w, h,
                                     nullptr, w * 4, false),
              99);
    EXPECT_EQ(DecodeFramePayloadInto(sample.data(), static_cast<unsigned>(sample.size()), 0, h,
                                     frame.data(), w * 4, false),
              99);
    EXPECT_EQ(frame, std::vector<unsigned char>(frame.size(), kUntouched));
}

} // namespace
