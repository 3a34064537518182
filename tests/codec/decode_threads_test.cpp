// Block decoding split over threads: the same bytes for any number of bands
// (more threads than block rows included), padding left alone, the size
// threshold and the process-wide setting, and a whole 3840x2160 LZF frame
// decoded with the split on and off.
#include <gtest/gtest.h>

#include <unistd.h>

#include <thread>
#include <vector>

#include "codec/DecodeThreads.h"
#include "codec/FramePayload.h"
#include "decode_support.h"

using namespace decode_test;

namespace {

constexpr unsigned char kUntouched = 0xA5;

// Restores the process-wide setting when a test ends, whatever it set.
struct SettingGuard {
    int saved = KEOGetDecodeThreads();
    ~SettingGuard() { KEOSetDecodeThreads(saved); }
};

int cores() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : (n > 8 ? 8 : static_cast<int>(n));
}

std::vector<unsigned char> decodeOn(int threads, KEOBlockLayout layout,
                                    const std::vector<unsigned char>& blocks, int width, int height,
                                    int pad) {
    const ptrdiff_t pitch = width * 4 + pad;
    std::vector<unsigned char> frame(static_cast<size_t>(pitch) * height, kUntouched);
    const HeapBytes data(blocks);
    // Bottom row first, as hosts lay out frames.
    KEODecodeBlocksOnThreads(layout, data.data(), static_cast<uint32_t>(width),
                             static_cast<uint32_t>(height), frame.data() + (height - 1) * pitch,
                             -pitch, threads);
    return frame;
}

TEST(DecodeThreads, AnyNumberOfBandsGivesTheSingleThreadBytes) {
    const struct {
        Layout layout;
        KEOBlockLayout blockLayout;
    } layouts[] = {{Layout::DXT1, kKEOLayoutDXT1},
                   {Layout::DXT5, kKEOLayoutDXT5},
                   {Layout::DXT24, kKEOLayoutDXT24},
                   {Layout::DXT24Alpha, kKEOLayoutDXT24Alpha}};
    uint32_t seed = 90;
    for (const auto& l : layouts)
        for (int height : {1, 4, 7, 13, 30, 33}) {
            const int width = 37;
            const auto blocks = randomBlockData(l.layout, width, height, seed++);
            const auto single = decodeOn(1, l.blockLayout, blocks, width, height, 12);
            for (int threads : {2, 3, 5, 8, 9, 64}) {
                SCOPED_TRACE(testing::Message() << "height " << height << ", " << threads
                                                << " threads, layout " << int(l.layout));
                EXPECT_EQ(decodeOn(threads, l.blockLayout, blocks, width, height, 12), single);
            }
        }
}

TEST(DecodeThreads, OnlyLargePicturesAreSplitAndTheSettingLimitsThem) {
    SettingGuard guard;
    KEOSetDecodeThreads(kKEODecodeThreadsAuto);
    EXPECT_EQ(KEODecodeThreadsFor(1920, 1080), 1);
    EXPECT_EQ(KEODecodeThreadsFor(3839, 2160), 1);
    EXPECT_EQ(KEODecodeThreadsFor(3840, 2160), cores());
    EXPECT_EQ(KEODecodeThreadsFor(2160, 3840), cores());
    EXPECT_EQ(KEODecodeThreadsFor(8192, 4320), cores());

    KEOSetDecodeThreads(1);
    EXPECT_EQ(KEOGetDecodeThreads(), 1);
    EXPECT_EQ(KEODecodeThreadsFor(3840, 2160), 1);
    KEOSetDecodeThreads(2);
    EXPECT_EQ(KEODecodeThreadsFor(3840, 2160), cores() < 2 ? cores() : 2);
    EXPECT_EQ(KEODecodeThreadsFor(1920, 1080), 1);
    KEOSetDecodeThreads(100);
    EXPECT_EQ(KEOGetDecodeThreads(), kKEOMaxDecodeThreads);
    KEOSetDecodeThreads(-5);
    EXPECT_EQ(KEOGetDecodeThreads(), kKEODecodeThreadsAuto);
}

// The whole pipeline on a frame large enough to be split: the same frame
// with the split off, automatic, and at the most threads allowed.
TEST(DecodeThreads, UltraHDFrameDecodesAlikeWithTheSplitOnAndOff) {
    SettingGuard guard;
    const int width = 3840, height = 2160;
    auto blocks = randomBlockData(Layout::DXT1, width, height, 7);
    // Repeats for LZF to find.
    for (size_t at = 8; at < blocks.size(); at += 8)
        if (at % 24 != 0)
            std::memcpy(&blocks[at], &blocks[at - 8], 8);
    const auto sample = lzfSample(Layout::DXT1, blocks);
    ASSERT_FALSE(sample.empty());
    const long long pitch = width * 4 + 16;
    auto decodeWith = [&](int setting) {
        KEOSetDecodeThreads(setting);
        std::vector<unsigned char> frame(static_cast<size_t>(pitch) * height, kUntouched);
        EXPECT_EQ(DecodeFramePayloadInto(sample.data(), static_cast<unsigned>(sample.size()), width,
                                         height, frame.data(), pitch, true),
                  kKEODecodeOK);
        return frame;
    };
    const auto off = decodeWith(1);
    EXPECT_EQ(decodeWith(kKEODecodeThreadsAuto), off);
    EXPECT_EQ(decodeWith(kKEOMaxDecodeThreads), off);
    // The padding of every row is left as it was.
    for (int line = 0; line < height; line += 97)
        EXPECT_EQ(off[static_cast<size_t>(line) * pitch + width * 4], kUntouched);
}

// The rows of a picture whose block data is in two parts (split at block row
// `split`), taken by two threads at once: the caller from the top, the other
// from the bottom as the worker that unpacked the second part does. Bottom
// row first, with decodeOn's padding.
std::vector<unsigned char> decodeFromBothEnds(const std::vector<unsigned char>& blocks, int width,
                                              int height, uint32_t split) {
    const ptrdiff_t pitch = width * 4 + 8;
    std::vector<unsigned char> frame(static_cast<size_t>(pitch) * height, kUntouched);
    const size_t rowBytes =
        static_cast<size_t>((width + 3) / 4) * KEOLayoutBlockSize(kKEOLayoutDXT1);
    const HeapBytes top(
        std::vector<unsigned char>(blocks.begin(), blocks.begin() + split * rowBytes));
    const HeapBytes bottom(
        std::vector<unsigned char>(blocks.begin() + split * rowBytes, blocks.end()));
    KEOBlockRows rows;
    KEOInitBlockRows(&rows, kKEOLayoutDXT1, top.data(), width, height,
                     frame.data() + (height - 1) * pitch, -pitch, 0);
    rows.secondBlocks = bottom.data();
    rows.split.store(split);
    rows.ready.store(rows.blockRows);
    std::thread other([&] { KEODecodeTakenRows(&rows, 0, nullptr, kKEOTakeOwnSecondPart); });
    KEODecodeTakenRows(&rows, 0, nullptr, kKEOTakeFromTop);
    other.join();
    return frame;
}

// Every row is decoded once, from the part that holds it, wherever the two
// threads meet: a split at the first row, in the middle, at the last row,
// and none (the bottom taker then takes from the top like the caller).
TEST(DecodeThreads, RowsTakenFromBothEndsGiveTheSingleThreadBytes) {
    for (int height : {8, 97}) {
        const int width = 45;
        const auto blocks = randomBlockData(Layout::DXT1, width, height, 140);
        const auto single = decodeOn(1, kKEOLayoutDXT1, blocks, width, height, 8);
        const uint32_t blockRows = static_cast<uint32_t>((height + 3) / 4);
        for (uint32_t split : {1u, blockRows / 2, blockRows - 1, blockRows})
            for (int run = 0; run < 20; ++run)
                ASSERT_EQ(decodeFromBothEnds(blocks, width, height, split), single)
                    << "height " << height << ", split " << split;
    }
}

} // namespace
