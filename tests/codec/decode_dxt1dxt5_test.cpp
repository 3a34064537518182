// DXT1 and DXT5 block decoding: channel expansion, palettes, alpha modes,
// clipping of edge blocks, and whole frames against the reference decoder.
#include <gtest/gtest.h>

#include <vector>

#include "codec/DXT1DXT5Decode.h"
#include "codec/DecodeBlocks.h"
#include "decode_support.h"

using namespace decode_test;

namespace {

constexpr uint32_t kGuard = 0x5A5A5A5Au;

// Bytes A, R, G, B of a decoded pixel word.
std::array<unsigned, 4> bytesOf(uint32_t pixel) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&pixel);
    return {b[0], b[1], b[2], b[3]};
}

// A DXT1 block with all 16 indices equal to `index`.
std::vector<unsigned char> dxt1Block(uint16_t c0, uint16_t c1, unsigned index) {
    const unsigned char allSame = static_cast<unsigned char>(index * 0x55);
    return {static_cast<unsigned char>(c0),
            static_cast<unsigned char>(c0 >> 8),
            static_cast<unsigned char>(c1),
            static_cast<unsigned char>(c1 >> 8),
            allSame,
            allSame,
            allSame,
            allSame};
}

// A 4x4 picture decoded from one DXT1 block, checked to be uniform.
std::array<unsigned, 4> uniformDXT1(uint16_t c0, uint16_t c1, unsigned index) {
    const auto block = dxt1Block(c0, c1, index);
    uint32_t picture[16];
    DecompressBlockDXT1(0, 0, 4, 4, block.data(), picture);
    for (int k = 1; k < 16; ++k)
        EXPECT_EQ(picture[k], picture[0]) << "pixel " << k;
    return bytesOf(picture[0]);
}

// A DXT5 block: alpha ends, pixel k's alpha code codes[k], black colour.
std::vector<unsigned char> dxt5Block(uint8_t a0, uint8_t a1, const unsigned codes[16]) {
    std::vector<unsigned char> block(16, 0);
    block[0] = a0;
    block[1] = a1;
    uint64_t bits = 0;
    for (int k = 0; k < 16; ++k)
        bits |= static_cast<uint64_t>(codes[k] & 7) << (3 * k);
    for (int i = 0; i < 6; ++i)
        block[2 + i] = static_cast<unsigned char>(bits >> (8 * i));
    return block;
}

std::array<unsigned, 8> alphaValuesOf(uint8_t a0, uint8_t a1) {
    const unsigned codes[16] = {0, 1, 2, 3, 4, 5, 6, 7, 0, 0, 0, 0, 0, 0, 0, 0};
    const auto block = dxt5Block(a0, a1, codes);
    uint32_t picture[16];
    DecompressBlockDXT5(0, 0, 4, 4, block.data(), picture);
    std::array<unsigned, 8> out{};
    for (int c = 0; c < 8; ++c)
        out[c] = bytesOf(picture[c])[0];
    return out;
}

} // namespace

TEST(DecodeDXT1, ChannelExpansionMatchesTheCodecArithmetic) {
    EXPECT_EQ(Expand5To8(0), 0u);
    EXPECT_EQ(Expand5To8(31), 255u);
    EXPECT_EQ(Expand6To8(0), 0u);
    EXPECT_EQ(Expand6To8(63), 255u);
    // The values where a rounded 255v / 31 (or / 63) would be one higher.
    EXPECT_EQ(Expand5To8(20), 164u);
    EXPECT_EQ(Expand5To8(25), 205u);
    EXPECT_EQ(Expand5To8(29), 238u);
    EXPECT_EQ(Expand6To8(53), 214u);
}

TEST(DecodeDXT1, PackARGBPutsAlphaFirstInMemory) {
    const auto bytes = bytesOf(PixelWord(PackARGB(0x11, 0x22, 0x33, 0x44)));
    EXPECT_EQ(bytes, (std::array<unsigned, 4>{0x44, 0x11, 0x22, 0x33}));
    EXPECT_EQ(PackARGB(0x11, 0x22, 0x33, 0x44), 0x33221144u);
}

TEST(DecodeDXT1, FourColourPalette) {
    // Pure red over pure blue: c0 > c1.
    EXPECT_EQ(uniformDXT1(0xF800, 0x001F, 0), (std::array<unsigned, 4>{255, 255, 0, 0}));
    EXPECT_EQ(uniformDXT1(0xF800, 0x001F, 1), (std::array<unsigned, 4>{255, 0, 0, 255}));
    EXPECT_EQ(uniformDXT1(0xF800, 0x001F, 2), (std::array<unsigned, 4>{255, 170, 0, 85}));
    EXPECT_EQ(uniformDXT1(0xF800, 0x001F, 3), (std::array<unsigned, 4>{255, 85, 0, 170}));
}

TEST(DecodeDXT1, ThreeColourPaletteKeepsIndexThreeOpaqueBlack) {
    // Blue over red: c0 < c1, so index 2 is the midpoint and 3 is black.
    EXPECT_EQ(uniformDXT1(0x001F, 0xF800, 2), (std::array<unsigned, 4>{255, 127, 0, 127}));
    EXPECT_EQ(uniformDXT1(0x001F, 0xF800, 3), (std::array<unsigned, 4>{255, 0, 0, 0}));
    // Equal end colours are three-colour mode too.
    EXPECT_EQ(uniformDXT1(0xFFFF, 0xFFFF, 3), (std::array<unsigned, 4>{255, 0, 0, 0}));
    EXPECT_EQ(uniformDXT1(0xFFFF, 0xFFFF, 2), (std::array<unsigned, 4>{255, 255, 255, 255}));
}

TEST(DecodeDXT1, ZeroBlocks) {
    const std::vector<unsigned char> zeros(16, 0);
    uint32_t picture[16];
    DecompressBlockDXT1(0, 0, 4, 4, zeros.data(), picture);
    for (uint32_t p : picture)
        EXPECT_EQ(bytesOf(p), (std::array<unsigned, 4>{255, 0, 0, 0}));
    DecompressBlockDXT5(0, 0, 4, 4, zeros.data(), picture);
    for (uint32_t p : picture)
        EXPECT_EQ(bytesOf(p), (std::array<unsigned, 4>{0, 0, 0, 0}));
}

TEST(DecodeDXT1, IndexBitsFollowRowMajorPixelOrder) {
    // Pixel k takes index k % 4, so every row reads 0, 1, 2, 3 left to right.
    std::vector<unsigned char> block = dxt1Block(0xF800, 0x001F, 0);
    for (int i = 4; i < 8; ++i)
        block[i] = 0xE4; // 11 10 01 00
    uint32_t picture[16];
    DecompressBlockDXT1(0, 0, 4, 4, block.data(), picture);
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(picture[k], picture[k % 4]) << "pixel " << k;
    EXPECT_EQ(bytesOf(picture[2])[1], 170u);
    EXPECT_EQ(bytesOf(picture[3])[1], 85u);
}

TEST(DecodeDXT5, EightValueAlpha) {
    EXPECT_EQ(alphaValuesOf(255, 0), (std::array<unsigned, 8>{255, 0, 218, 182, 145, 109, 72, 36}));
}

TEST(DecodeDXT5, SixValueAlpha) {
    EXPECT_EQ(alphaValuesOf(0, 255), (std::array<unsigned, 8>{0, 255, 51, 102, 153, 204, 0, 255}));
    // Equal ends are six-value mode as well.
    EXPECT_EQ(alphaValuesOf(40, 40), (std::array<unsigned, 8>{40, 40, 40, 40, 40, 40, 0, 255}));
}

TEST(DecodeDXT5, AlphaCodesThatStraddleBytes) {
    // Pixels 2, 5, 10 and 13 take bits from two bytes; give each the code 7
    // alone and check that exactly that pixel turns opaque.
    for (int k : {2, 5, 10, 13}) {
        unsigned codes[16] = {};
        codes[k] = 7;
        const auto block = dxt5Block(0, 1, codes);
        uint32_t picture[16];
        DecompressBlockDXT5(0, 0, 4, 4, block.data(), picture);
        for (int p = 0; p < 16; ++p)
            EXPECT_EQ(bytesOf(picture[p])[0], p == k ? 255u : 0u) << "code pixel " << k;
    }
}

TEST(DecodeDXT5, ColourIgnoresThreeColourMode) {
    // c0 < c1 would be three-colour mode in DXT1; DXT5 still mixes by thirds.
    const unsigned codes[16] = {};
    std::vector<unsigned char> block = dxt5Block(255, 255, codes);
    const auto colour = dxt1Block(0x001F, 0xF800, 3);
    std::copy(colour.begin(), colour.end(), block.begin() + 8);
    uint32_t picture[16];
    DecompressBlockDXT5(0, 0, 4, 4, block.data(), picture);
    EXPECT_EQ(bytesOf(picture[0]), (std::array<unsigned, 4>{255, 170, 0, 85}));
}

TEST(DecodeDXTBlocks, EdgeBlocksWriteOnlyInsideThePicture) {
    // A 5x5 picture inside a guard region: the block at (4, 4) may write only
    // pixel (4, 4), the block at (4, 0) only column 4 of rows 0-3.
    const uint32_t width = 5, height = 5;
    std::vector<uint32_t> buffer(16 + width * height + 16, kGuard);
    uint32_t* picture = buffer.data() + 16;
    const std::vector<unsigned char> block(16, 0);
    DecompressBlockDXT5(4, 4, width, height, block.data(), picture);
    DecompressBlockDXT1(4, 0, width, height, block.data(), picture);
    // Blocks wholly outside the picture write nothing.
    DecompressBlockDXT1(8, 0, width, height, block.data(), picture);
    DecompressBlockDXT5(0, 8, width, height, block.data(), picture);
    for (size_t i = 0; i < buffer.size(); ++i) {
        const int at = static_cast<int>(i) - 16;
        const bool written = at >= 0 && at < 25 && at % 5 == 4;
        EXPECT_EQ(buffer[i] != kGuard, written) << "index " << at;
    }
}

TEST(DecodeDXTBlocks, WholeFramesMatchTheReferenceAndStayInside) {
    const int sizes[][2] = {{1, 1}, {5, 3}, {5, 5}, {6, 6}, {4, 4}, {13, 7}, {16, 9}};
    for (Layout layout : {Layout::DXT1, Layout::DXT5}) {
        for (const auto& size : sizes) {
            const int w = size[0], h = size[1];
            const auto blocks = randomBlockData(layout, w, h, 1000u + w * 31u + h);
            std::vector<uint32_t> buffer(8 + w * h + 8, kGuard);
            if (layout == Layout::DXT1)
                BlockDecompressImageDXT1(w, h, blocks.data(), buffer.data() + 8);
            else
                BlockDecompressImageDXT5(w, h, blocks.data(), buffer.data() + 8);
            const auto expected = referencePicture(layout, blocks, w, h);
            ASSERT_EQ(std::memcmp(buffer.data() + 8, expected.data(), expected.size()), 0)
                << "layout " << static_cast<int>(layout) << " " << w << "x" << h;
            for (int i = 0; i < 8; ++i) {
                EXPECT_EQ(buffer[i], kGuard);
                EXPECT_EQ(buffer[8 + w * h + i], kGuard);
            }
        }
    }
}

TEST(DecodeDXTBlocks, ZeroHeightWritesNothing) {
    uint32_t guard = kGuard;
    BlockDecompressImageDXT1(8, 0, nullptr, &guard);
    BlockDecompressImageDXT5(0, 8, nullptr, &guard);
    EXPECT_EQ(guard, kGuard);
}
