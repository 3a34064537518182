// DXT24 decoding: the thirds table, palettes, clipping with a row stride,
// DXT24 with alpha, and concurrent first use of the table.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "codec/DXT24Decode.h"
#include "codec/DecodeBlocks.h"
#include "decode_support.h"

using namespace decode_test;

namespace {

constexpr unsigned char kGuardByte = 0xA5;

std::vector<unsigned char> dxt24Block(std::array<unsigned char, 3> c0,
                                      std::array<unsigned char, 3> c1, unsigned index) {
    const unsigned char allSame = static_cast<unsigned char>(index * 0x55);
    return {c0[0], c0[1], c0[2], c1[0], c1[1], c1[2], allSame, allSame, allSame, allSame};
}

// A DXT24+alpha frame has no decoder of its own: it goes through the
// layout-generic block decoder, as the frame pipeline sends it.
void decodeDXT24Alpha(const unsigned char* blocks, unsigned char* picture, int width, int height,
                      int stride) {
    EXPECT_TRUE(KEODecodeBlocks(kKEOLayoutDXT24Alpha, blocks, static_cast<uint32_t>(width),
                                static_cast<uint32_t>(height), picture, stride));
}

// The A, R, G, B bytes of a 4x4 picture decoded from one block, checked to
// be uniform.
std::array<unsigned char, 4> uniformPixel(const std::vector<unsigned char>& block, bool withAlpha) {
    unsigned char picture[64];
    if (withAlpha)
        decodeDXT24Alpha(block.data(), picture, 4, 4, 16);
    else
        DecodeDXT24(block.data(), picture, 4, 4, 16);
    for (int k = 1; k < 16; ++k)
        EXPECT_EQ(std::memcmp(picture, picture + 4 * k, 4), 0) << "pixel " << k;
    return {picture[0], picture[1], picture[2], picture[3]};
}

using Bytes4 = std::array<unsigned char, 4>;

} // namespace

TEST(DecodeDXT24, ThirdsTable) {
    InitThirdsTable();
    ASSERT_TRUE(initThirds.load());
    auto t = [](int a, int b) { return thirdsTable[a * 256 + b]; };
    // Values worked by hand, so a formula below that went wrong the same way
    // as the table would still be caught: the channel ends, rounding near
    // zero, and both orders of a near pair.
    const int byHand[][3] = {{255, 0, 170}, {0, 255, 85},    {1, 0, 1},       {0, 1, 0},
                             {2, 0, 1},     {255, 255, 255}, {100, 101, 100}, {101, 100, 101}};
    for (const auto& h : byHand)
        EXPECT_EQ(t(h[0], h[1]), h[2]) << h[0] << "," << h[1];
    // Every entry is the nearest integer to (2a + b) / 3, as a double
    // computation would give it.
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            ASSERT_EQ(t(a, b), static_cast<int>(std::floor(b / 3.0 + (a + a) / 3.0 + 0.5)))
                << a << "," << b;
}

TEST(DecodeDXT24, Palettes) {
    const std::array<unsigned char, 3> red{255, 0, 0}, blue{0, 0, 255};
    EXPECT_EQ(uniformPixel(dxt24Block(red, blue, 0), false), (Bytes4{255, 255, 0, 0}));
    EXPECT_EQ(uniformPixel(dxt24Block(red, blue, 1), false), (Bytes4{255, 0, 0, 255}));
    EXPECT_EQ(uniformPixel(dxt24Block(red, blue, 2), false), (Bytes4{255, 170, 0, 85}));
    EXPECT_EQ(uniformPixel(dxt24Block(red, blue, 3), false), (Bytes4{255, 85, 0, 170}));
    // The smaller colour first changes nothing: still four mixes, no black
    // or transparent entry.
    EXPECT_EQ(uniformPixel(dxt24Block(blue, red, 2), false), (Bytes4{255, 85, 0, 170}));
    EXPECT_EQ(uniformPixel(dxt24Block(blue, red, 3), false), (Bytes4{255, 170, 0, 85}));
    EXPECT_EQ(uniformPixel(std::vector<unsigned char>(10, 0), false), (Bytes4{255, 0, 0, 0}));
    // Channels are mixed independently.
    EXPECT_EQ(uniformPixel(dxt24Block({10, 200, 101}, {40, 20, 100}, 2), false),
              (Bytes4{255, 20, 140, 101}));
}

TEST(DecodeDXT24, FramesMatchTheReferenceAndRespectTheStride) {
    // Rows 8 bytes wider than the picture: the padding must stay untouched.
    const int sizes[][2] = {{1, 1}, {5, 3}, {6, 6}, {4, 8}, {13, 7}};
    for (Layout layout : {Layout::DXT24, Layout::DXT24Alpha}) {
        for (const auto& size : sizes) {
            const int w = size[0], h = size[1], stride = w * 4 + 8;
            const auto blocks = randomBlockData(layout, w, h, 77u + w * 17u + h);
            std::vector<unsigned char> buffer(16 + stride * h + 16, kGuardByte);
            unsigned char* picture = buffer.data() + 16;
            if (layout == Layout::DXT24)
                DecodeDXT24(blocks.data(), picture, w, h, stride);
            else
                decodeDXT24Alpha(blocks.data(), picture, w, h, stride);
            const auto expected = referencePicture(layout, blocks, w, h);
            for (int y = 0; y < h; ++y) {
                ASSERT_EQ(std::memcmp(picture + y * stride, &expected[y * w * 4], w * 4), 0)
                    << w << "x" << h << " row " << y;
                for (int pad = w * 4; pad < stride; ++pad)
                    ASSERT_EQ(picture[y * stride + pad], kGuardByte);
            }
            for (int i = 0; i < 16; ++i) {
                EXPECT_EQ(buffer[i], kGuardByte);
                EXPECT_EQ(buffer[buffer.size() - 1 - i], kGuardByte);
            }
        }
    }
}

TEST(DecodeDXT24, EmptyPicturesReadAndWriteNothing) {
    unsigned char guard = kGuardByte;
    // No block data at all: a read would fault under AddressSanitizer.
    DecodeDXT24(nullptr, &guard, 8, 0, 32);
    DecodeDXT24(nullptr, &guard, 0, 8, 0);
    KEODecodeBlocks(kKEOLayoutDXT24Alpha, nullptr, 0, 8, &guard, 0);
    KEODecodeBlocks(kKEOLayoutDXT24Alpha, nullptr, 8, 0, &guard, 32);
    EXPECT_EQ(guard, kGuardByte);
}

TEST(DecodeDXT24Alpha, AlphaBlockIsExpandedLikeDXT5) {
    // Alpha ends 255 / 0 with every code 2, then an all-index-2 colour block.
    std::vector<unsigned char> block = {255, 0};
    uint64_t codes = 0;
    for (int k = 0; k < 16; ++k)
        codes |= uint64_t(2) << (3 * k);
    for (int i = 0; i < 6; ++i)
        block.push_back(static_cast<unsigned char>(codes >> (8 * i)));
    const auto colour = dxt24Block({255, 0, 0}, {0, 0, 255}, 2);
    block.insert(block.end(), colour.begin(), colour.end());
    EXPECT_EQ(uniformPixel(block, true), (Bytes4{218, 170, 0, 85}));
    // Six-value mode: code 6 is fully transparent.
    block[0] = 0;
    block[1] = 255;
    codes = 0;
    for (int k = 0; k < 16; ++k)
        codes |= uint64_t(6) << (3 * k);
    for (int i = 0; i < 6; ++i)
        block[2 + i] = static_cast<unsigned char>(codes >> (8 * i));
    EXPECT_EQ(uniformPixel(block, true), (Bytes4{0, 170, 0, 85}));
}

TEST(DecodeDXT24, ConcurrentFirstDecodesAgree) {
    // Run alone (as CTest does) this is the process's first use of the table:
    // every thread must see it complete.
    const int w = 64, h = 32;
    const auto blocks = randomBlockData(Layout::DXT24, w, h, 4242);
    const auto expected = referencePicture(Layout::DXT24, blocks, w, h);
    std::vector<std::vector<unsigned char>> pictures(6, std::vector<unsigned char>(w * h * 4));
    // All threads wait at a gate so that their first decodes really overlap.
    std::atomic<int> waiting{0};
    std::vector<std::thread> threads;
    for (auto& picture : pictures)
        threads.emplace_back([&] {
            waiting.fetch_add(1);
            while (waiting.load() < static_cast<int>(pictures.size()))
                std::this_thread::yield();
            DecodeDXT24(blocks.data(), picture.data(), w, h, w * 4);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_TRUE(initThirds.load());
    for (const auto& picture : pictures)
        EXPECT_EQ(picture, expected);
}
