// The portable and SSSE3 block decoders against each other and against the
// reference decoder: random frames of odd sizes in packed, padded and
// bottom-up layouts, and block sets that run every end colour and every
// alpha pair through the lane arithmetic.
#include <gtest/gtest.h>

#include <vector>

#include "codec/DecodeBlocks.h"
#include "decode_support.h"

using namespace decode_test;

namespace {

const Layout kLayouts[] = {Layout::DXT1, Layout::DXT5, Layout::DXT24, Layout::DXT24Alpha};

KEOBlockLayout blockLayout(Layout layout) {
    switch (layout) {
    case Layout::DXT1:
        return kKEOLayoutDXT1;
    case Layout::DXT5:
        return kKEOLayoutDXT5;
    case Layout::DXT24:
        return kKEOLayoutDXT24;
    case Layout::DXT24Alpha:
        break;
    }
    return kKEOLayoutDXT24Alpha;
}

constexpr unsigned char kUntouched = 0xC3;

// A frame buffer of `height` rows, `pad` spare bytes after each row's
// pixels, every byte preset so that stray writes show.
struct Frame {
    int width, height, pad;
    bool bottomUp;
    std::vector<unsigned char> bytes;

    Frame(int w, int h, int p, bool up)
        : width(w), height(h), pad(p), bottomUp(up),
          bytes(static_cast<size_t>(w * 4 + p) * h, kUntouched) {}
    ptrdiff_t pitch() const { return width * 4 + pad; }
    unsigned char* row0() {
        return bottomUp ? bytes.data() + (height - 1) * pitch() : bytes.data();
    }
    ptrdiff_t step() const { return bottomUp ? -pitch() : pitch(); }
    // The picture rows, top first and packed, as the reference lays them out.
    std::vector<unsigned char> packed() const {
        std::vector<unsigned char> out;
        for (int y = 0; y < height; ++y) {
            const int line = bottomUp ? height - 1 - y : y;
            const unsigned char* at = bytes.data() + line * pitch();
            out.insert(out.end(), at, at + width * 4);
        }
        return out;
    }
    bool paddingUntouched() const {
        for (int line = 0; line < height; ++line)
            for (int i = 0; i < pad; ++i)
                if (bytes[line * pitch() + width * 4 + i] != kUntouched)
                    return false;
        return true;
    }
};

Frame decodeWith(KEODecodePath path, Layout layout, const std::vector<unsigned char>& blocks,
                 int width, int height, int pad = 0, bool bottomUp = false) {
    Frame frame(width, height, pad, bottomUp);
    // Exact-size block data, so a read past the last block is caught.
    const HeapBytes data(blocks);
    EXPECT_TRUE(KEODecodeBlocks(blockLayout(layout), data.data(), width, height, frame.row0(),
                                frame.step(), path));
    return frame;
}

#define SKIP_WITHOUT_SSSE3()                                                                       \
    do {                                                                                           \
        if (!KEODecodePathAvailable(kKEODecodeSSSE3))                                              \
            GTEST_SKIP() << "processor or build without SSSE3";                                    \
    } while (0)

// The path every caller takes by default: it must run on any machine (the
// decode itself checks that it was accepted) and give the reference bytes,
// whichever path it picks here.
TEST(DecodePaths, BestPathRunsAnywhereAndMatchesTheReference) {
    uint32_t seed = 50;
    for (Layout layout : kLayouts) {
        const auto blocks = randomBlockData(layout, 33, 31, seed++);
        SCOPED_TRACE(testing::Message() << blockSizeOf(layout) << "-byte blocks");
        EXPECT_EQ(decodeWith(kKEODecodeBest, layout, blocks, 33, 31).packed(),
                  referencePicture(layout, blocks, 33, 31));
    }
}

// Sizes that cut edge blocks in every way, including frames narrower than a
// group of four blocks and block rows whose last group is partial.
TEST(DecodePaths, RandomFramesOfOddSizesMatchTheReferenceOnBothPaths) {
    const int sizes[][2] = {{1, 1},  {3, 5},   {5, 3},   {4, 4},  {7, 9},    {13, 1},
                            {16, 8}, {17, 13}, {33, 31}, {62, 6}, {129, 67}, {200, 3}};
    uint32_t seed = 1;
    for (Layout layout : kLayouts)
        for (const auto& size : sizes) {
            const int w = size[0], h = size[1];
            const auto blocks = randomBlockData(layout, w, h, seed++);
            const auto expected = referencePicture(layout, blocks, w, h);
            SCOPED_TRACE(testing::Message()
                         << blockSizeOf(layout) << "-byte blocks, " << w << "x" << h);
            EXPECT_EQ(decodeWith(kKEODecodePortable, layout, blocks, w, h).packed(), expected);
            if (KEODecodePathAvailable(kKEODecodeSSSE3)) {
                EXPECT_EQ(decodeWith(kKEODecodeSSSE3, layout, blocks, w, h).packed(), expected);
            }
        }
}

TEST(DecodePaths, PaddedAndBottomUpRowsGetTheSameBytesAndTheirPaddingStays) {
    SKIP_WITHOUT_SSSE3();
    uint32_t seed = 100;
    for (Layout layout : kLayouts)
        for (bool bottomUp : {false, true})
            for (int pad : {0, 3, 64}) {
                const int w = 37, h = 23;
                const auto blocks = randomBlockData(layout, w, h, seed++);
                const Frame portable =
                    decodeWith(kKEODecodePortable, layout, blocks, w, h, pad, bottomUp);
                const Frame fast = decodeWith(kKEODecodeSSSE3, layout, blocks, w, h, pad, bottomUp);
                SCOPED_TRACE(testing::Message() << blockSizeOf(layout) << "-byte blocks, pad "
                                                << pad << (bottomUp ? ", bottom-up" : ""));
                EXPECT_EQ(fast.bytes, portable.bytes);
                EXPECT_TRUE(fast.paddingUntouched());
                EXPECT_EQ(fast.packed(), referencePicture(layout, blocks, w, h));
            }
}

TEST(DecodePaths, AFullHDFrameIsTheSameOnBothPaths) {
    SKIP_WITHOUT_SSSE3();
    uint32_t seed = 7;
    for (Layout layout : kLayouts) {
        const auto blocks = randomBlockData(layout, 1920, 1080, seed++);
        EXPECT_EQ(decodeWith(kKEODecodeSSSE3, layout, blocks, 1920, 1080).bytes,
                  decodeWith(kKEODecodePortable, layout, blocks, 1920, 1080).bytes);
    }
}

// One block per 16-bit end colour (c0 = v, c1 = v ^ 0x5A5A, and both orders so
// that DXT1 runs both palette modes), each with random indices: the 5- and
// 6-bit expansions and the thirds for every channel value.
TEST(DecodePaths, Every565EndColourDecodesAlike) {
    SKIP_WITHOUT_SSSE3();
    for (Layout layout : {Layout::DXT1, Layout::DXT5}) {
        auto blocks = randomBlockData(layout, 1024, 1024, 11);
        const int size = blockSizeOf(layout), colourAt = layout == Layout::DXT5 ? 8 : 0;
        for (int v = 0; v < 65536; ++v) {
            unsigned char* colour = &blocks[static_cast<size_t>(v) * size + colourAt];
            const int other = v ^ 0x5A5A;
            const int c0 = v % 2 ? v : other, c1 = v % 2 ? other : v;
            colour[0] = static_cast<unsigned char>(c0);
            colour[1] = static_cast<unsigned char>(c0 >> 8);
            colour[2] = static_cast<unsigned char>(c1);
            colour[3] = static_cast<unsigned char>(c1 >> 8);
        }
        EXPECT_EQ(decodeWith(kKEODecodeSSSE3, layout, blocks, 1024, 1024).packed(),
                  referencePicture(layout, blocks, 1024, 1024));
    }
}

// Every (a, b) pair of 8-bit channel ends, in all three channels, through
// the rounded thirds of DXT24.
TEST(DecodePaths, EveryDXT24ChannelPairDecodesAlike) {
    SKIP_WITHOUT_SSSE3();
    auto blocks = randomBlockData(Layout::DXT24, 1024, 1024, 12);
    for (int v = 0; v < 65536; ++v) {
        unsigned char* block = &blocks[static_cast<size_t>(v) * 10];
        const unsigned char a = static_cast<unsigned char>(v >> 8),
                            b = static_cast<unsigned char>(v);
        const unsigned char ends[6] = {a, b, static_cast<unsigned char>(a ^ b),
                                       b, a, static_cast<unsigned char>(~a)};
        std::memcpy(block, ends, 6);
    }
    EXPECT_EQ(decodeWith(kKEODecodeSSSE3, Layout::DXT24, blocks, 1024, 1024).packed(),
              referencePicture(Layout::DXT24, blocks, 1024, 1024));
}

// Every (a0, a1) pair, both alpha modes, with random codes: the sevenths and
// fifths and the forced 0 and 255.
TEST(DecodePaths, EveryAlphaPairDecodesAlike) {
    SKIP_WITHOUT_SSSE3();
    for (Layout layout : {Layout::DXT5, Layout::DXT24Alpha}) {
        auto blocks = randomBlockData(layout, 1024, 1024, 13);
        const int size = blockSizeOf(layout);
        for (int v = 0; v < 65536; ++v) {
            blocks[static_cast<size_t>(v) * size] = static_cast<unsigned char>(v >> 8);
            blocks[static_cast<size_t>(v) * size + 1] = static_cast<unsigned char>(v);
        }
        EXPECT_EQ(decodeWith(kKEODecodeSSSE3, layout, blocks, 1024, 1024).packed(),
                  referencePicture(layout, blocks, 1024, 1024));
    }
}

// Every value of every pair of neighbouring code bytes (bytes 2-3, 3-4, ...,
// 6-7 of the alpha block), so every code of every pixel, the codes that
// straddle a byte, and every pair of codes side by side, each under both
// alpha modes: a0 > a1 (eight values) and a0 <= a1 (six values, 0 and 255,
// with a0 = a1 among them). In a frame 1022 pixels wide most blocks go
// through the two-at-a-time path, and the last four of each row, the edge
// block among them, one at a time.
TEST(DecodePaths, EveryAlphaCodePatternDecodesAlikeInBothModes) {
    SKIP_WITHOUT_SSSE3();
    for (Layout layout : {Layout::DXT5, Layout::DXT24Alpha}) {
        const size_t size = static_cast<size_t>(blockSizeOf(layout));
        for (int pair = 2; pair <= 6; ++pair)
            for (bool eightValues : {true, false}) {
                auto blocks = randomBlockData(layout, 1024, 1024, 14 + pair);
                for (int v = 0; v < 65536; ++v) {
                    unsigned char* block = &blocks[v * size];
                    const unsigned char low = static_cast<unsigned char>(v % 251),
                                        high = static_cast<unsigned char>(low + 1 + v % 4);
                    block[0] = eightValues ? high : (v % 7 == 0 ? high : low);
                    block[1] = eightValues ? low : high;
                    block[pair] = static_cast<unsigned char>(v);
                    block[pair + 1] = static_cast<unsigned char>(v >> 8);
                }
                SCOPED_TRACE(testing::Message()
                             << size << "-byte blocks, code bytes " << pair << "-" << pair + 1
                             << (eightValues ? ", a0 > a1" : ", a0 <= a1"));
                EXPECT_EQ(decodeWith(kKEODecodeSSSE3, layout, blocks, 1022, 1024).packed(),
                          decodeWith(kKEODecodePortable, layout, blocks, 1022, 1024).packed());
            }
        // Every (a0, a1) pair with the codes 0 to 7 twice over, so that every
        // value of every palette is looked up.
        auto blocks = randomBlockData(layout, 1024, 1024, 20);
        for (int v = 0; v < 65536; ++v) {
            unsigned char* block = &blocks[v * size];
            block[0] = static_cast<unsigned char>(v >> 8);
            block[1] = static_cast<unsigned char>(v);
            const unsigned char codes[6] = {0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA};
            std::memcpy(block + 2, codes, 6);
        }
        EXPECT_EQ(decodeWith(kKEODecodeSSSE3, layout, blocks, 1022, 1024).packed(),
                  decodeWith(kKEODecodePortable, layout, blocks, 1022, 1024).packed());
    }
}

} // namespace
