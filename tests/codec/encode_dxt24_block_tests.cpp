// DXT24 block encoder: exact blocks for hand-worked cases, edge repetition,
// row pitch, end-point order, and the 18-byte alpha form.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "codec/DXT24Decode.h"
#include "codec/DXT24Encode.h"
#include "codec/DecodeBlocks.h"
#include "codec/FramePayload.h"
#include "codec/StbDxt.h"
#include "codec/encode_picture.h"

namespace {

struct Colour {
    unsigned char r, g, b;
};

// A working block (R, G, B, A per pixel) from per-pixel colours.
std::vector<unsigned char> workingBlock(const Colour* colours, unsigned char alpha = 255) {
    std::vector<unsigned char> block(64);
    for (int i = 0; i < 16; ++i) {
        block[i * 4 + 0] = colours[i].r;
        block[i * 4 + 1] = colours[i].g;
        block[i * 4 + 2] = colours[i].b;
        block[i * 4 + 3] = alpha;
    }
    return block;
}

std::vector<unsigned char> encodeBlock(const std::vector<unsigned char>& block) {
    std::vector<unsigned char> out(KEOLayoutBlockSize(kKEOLayoutDXT24));
    stb_compress_dxt_block_24(out.data(), block.data(), false, kDXT24HighQuality);
    return out;
}

uint32_t colourAt(const unsigned char* encoded, int which) {
    return keo::loadBE24(encoded + which * 3);
}

// The 16 pixels of a 4x4 ARGB32 picture decoded from one DXT24 block.
std::vector<unsigned char> decodeBlock(const std::vector<unsigned char>& encoded) {
    std::vector<unsigned char> picture(64);
    DecodeDXT24(encoded.data(), picture.data(), 4, 4, 16);
    return picture;
}

// A block whose pixels 0-7 are `first` and 8-15 `second`, and the answer
// worked out by hand: both end points (RGB, big-endian) and the 32 index
// bits, pixel 0 lowest; and whether every pixel decodes back exactly.
struct HandBlock {
    const char* name;
    Colour first, second;
    uint32_t end0, end1, indices;
    bool decodesExactly;
};

const HandBlock kHandBlocks[] = {
    {"ConstantBlockKeepsItsColourExactly",
     {37, 200, 91},
     {37, 200, 91},
     0x25C85B,
     0x25C85B,
     0xAAAAAAAA,
     true},
    // Red pixels 0-7 take index 0, blue pixels 8-15 index 1.
    {"TwoColoursBecomeTheEndPointsWithTheLargerFirst",
     {255, 0, 0},
     {0, 0, 255},
     0xFF0000,
     0x0000FF,
     0x55550000,
     false},
    // Two colours one step apart in different channels: the spread is far
    // too small for the power iteration, so the luminance axis orders them
    // (green weighs more than red). Worked through by hand: the first match
    // gives the bluish-red pixels index 3 (arithmetic shifts of negative
    // crossover points), the refinement moves the red end to 102 (rounding
    // 101.5 up), and the final swap puts that larger colour first. Both
    // colours then decode exactly.
    {"NearlyFlatBlockUsesTheLuminanceAxis",
     {100, 101, 100},
     {101, 100, 100},
     0x666464,
     0x646564,
     0xAAAA5555,
     true},
    // Two greys one step apart: luminance picks brightest and darkest, and
    // the refinement widens the ends to 101 and 98 so that index 2 lands on
    // 100.
    {"NearlyFlatGreyRefinesToExactThirds",
     {100, 100, 100},
     {101, 101, 101},
     0x656565,
     0x626262,
     0x0000AAAA,
     false},
};

class DXT24HandWorkedBlock : public ::testing::TestWithParam<HandBlock> {};

TEST_P(DXT24HandWorkedBlock, EncodesToTheWorkedAnswer) {
    const HandBlock& b = GetParam();
    Colour colours[16];
    for (int i = 0; i < 16; ++i)
        colours[i] = i < 8 ? b.first : b.second;
    const auto encoded = encodeBlock(workingBlock(colours));
    EXPECT_EQ(colourAt(encoded.data(), 0), b.end0);
    EXPECT_EQ(colourAt(encoded.data(), 1), b.end1);
    EXPECT_EQ(keo::loadLE32(&encoded[6]), b.indices);
    if (!b.decodesExactly)
        return;
    const auto picture = decodeBlock(encoded);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(picture[i * 4 + 0], 255) << i;
        EXPECT_EQ(picture[i * 4 + 1], colours[i].r) << i;
        EXPECT_EQ(picture[i * 4 + 2], colours[i].g) << i;
        EXPECT_EQ(picture[i * 4 + 3], colours[i].b) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(DXT24BlockEncoder, DXT24HandWorkedBlock, ::testing::ValuesIn(kHandBlocks),
                         [](const ::testing::TestParamInfo<HandBlock>& info) {
                             return std::string(info.param.name);
                         });

TEST(DXT24BlockEncoder, LargerColourComesFirstOnManyRandomBlocks) {
    for (uint32_t seed = 0; seed < 20000; ++seed) {
        std::vector<unsigned char> block(64);
        // Alternate full-range blocks with few-colour and low-spread ones,
        // which exercise the constant, singular and luminance paths.
        const uint32_t kind = seed % 4;
        for (int i = 0; i < 64; ++i) {
            const uint32_t h = encode_test::hash3(seed, i, 7);
            unsigned char v;
            if (kind == 0)
                v = static_cast<unsigned char>(h);
            else if (kind == 1)
                v = static_cast<unsigned char>(
                    encode_test::hash3(seed, (i / 4) % 2 * 4 + i % 4, 9));
            else if (kind == 2)
                v = static_cast<unsigned char>(120 + (h & 3));
            else
                v = static_cast<unsigned char>((h & 1) ? 255 : 0);
            block[i] = (i % 4 == 3) ? 255 : v;
        }
        const auto encoded = encodeBlock(block);
        ASSERT_GE(colourAt(encoded.data(), 0), colourAt(encoded.data(), 1)) << "seed " << seed;
    }
}

// Encodes a width x height region of a seeded picture and checks every block
// against the block encoder fed by hand with the edge pixels repeated.
void expectEdgeRepetition(int width, int height, int rowBytes) {
    const int pitch = rowBytes != 0 ? rowBytes : width * 4;
    std::vector<unsigned char> picture(static_cast<size_t>(pitch) * height);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<unsigned char>(encode_test::hash3(static_cast<uint32_t>(i), 1, 5));

    const int blocksX = (width + 3) / 4, blocksY = (height + 3) / 4;
    std::vector<unsigned char> out(static_cast<size_t>(blocksX) * blocksY * 10 + 16, 0xEE);
    _stbCompressARGB32_to24(out.data(), picture.data(), width, height, rowBytes, false);

    for (int by = 0; by < blocksY; ++by) {
        for (int bx = 0; bx < blocksX; ++bx) {
            std::vector<unsigned char> block(64);
            for (int j = 0; j < 4; ++j) {
                for (int i = 0; i < 4; ++i) {
                    const int x = std::min(bx * 4 + i, width - 1);
                    const int y = std::min(by * 4 + j, height - 1);
                    const unsigned char* p = &picture[static_cast<size_t>(y) * pitch + x * 4];
                    unsigned char* q = &block[(j * 4 + i) * 4];
                    q[0] = p[1];
                    q[1] = p[2];
                    q[2] = p[3];
                    q[3] = p[0];
                }
            }
            const auto expected = encodeBlock(block);
            const size_t at = (static_cast<size_t>(by) * blocksX + bx) * 10;
            ASSERT_EQ(0, std::memcmp(&out[at], expected.data(), 10))
                << "block " << bx << "," << by << " of " << width << "x" << height;
        }
    }
    // Nothing written past the last block.
    for (size_t i = out.size() - 16; i < out.size(); ++i)
        ASSERT_EQ(out[i], 0xEE);
}

TEST(DXT24RegionEncoder, EdgeBlocksRepeatTheLastColumnAndRow) {
    expectEdgeRepetition(6, 6, 0);
    expectEdgeRepetition(1, 1, 0);
    expectEdgeRepetition(9, 5, 0);
    expectEdgeRepetition(8, 8, 0);
}

TEST(DXT24RegionEncoder, RowBytesZeroMeansPackedRowsAndPaddingIsSkipped) {
    const int width = 10, height = 7;
    const auto packed = encode_test::naturalPicture(width, height, 3);
    std::vector<unsigned char> a(3 * 2 * 10), b(a.size()), c(a.size());
    _stbCompressARGB32_to24(a.data(), packed.data(), width, height, 0, false);
    _stbCompressARGB32_to24(b.data(), packed.data(), width, height, width * 4, false);
    EXPECT_EQ(a, b);

    // The same picture with 24 bytes of junk after every row.
    const int pitch = width * 4 + 24;
    std::vector<unsigned char> padded(static_cast<size_t>(pitch) * height, 0x5A);
    for (int y = 0; y < height; ++y)
        std::memcpy(&padded[y * pitch], &packed[y * width * 4], width * 4);
    _stbCompressARGB32_to24(c.data(), padded.data(), width, height, pitch, false);
    EXPECT_EQ(a, c);

    expectEdgeRepetition(6, 6, 6 * 4 + 12);
}

TEST(DXT24RegionEncoder, EmptyRegionWritesNothing) {
    unsigned char out[20];
    std::memset(out, 0xEE, sizeof out);
    const unsigned char pixel[4] = {255, 1, 2, 3};
    _stbCompressARGB32_to24(out, pixel, 1, 0, 0, false);
    _stbCompressARGB32_to24(out, pixel, 0, 1, 0, false);
    _stbCompressARGB32_to24(out, pixel, 1, -4, 0, false);
    for (unsigned char b : out)
        EXPECT_EQ(b, 0xEE);
}

TEST(DXT24AlphaBlocks, AlphaBlockPrecedesTheColourBlockIn18Bytes) {
    std::vector<unsigned char> block(64);
    for (int i = 0; i < 64; ++i)
        block[i] = static_cast<unsigned char>(encode_test::hash3(i, 2, 3));
    unsigned char withAlpha[18];
    stb_compress_dxt_block_24(withAlpha, block.data(), true, kDXT24HighQuality);

    unsigned char alphaOnly[8];
    keo::stb_compress_alpha_block(alphaOnly, block.data());
    EXPECT_EQ(0, std::memcmp(withAlpha, alphaOnly, 8));

    // The colour half ignores alpha: it equals the block made opaque.
    for (int i = 0; i < 16; ++i)
        block[i * 4 + 3] = 255;
    EXPECT_EQ(0, std::memcmp(withAlpha + 8, encodeBlock(block).data(), 10));
}

TEST(DXT24AlphaBlocks, ConstantColourUnderVaryingAlphaIsStillConstant) {
    std::vector<unsigned char> block(64);
    for (int i = 0; i < 16; ++i) {
        block[i * 4 + 0] = 10;
        block[i * 4 + 1] = 20;
        block[i * 4 + 2] = 30;
        block[i * 4 + 3] = static_cast<unsigned char>(i * 17);
    }
    unsigned char out[18];
    stb_compress_dxt_block_24(out, block.data(), true, kDXT24HighQuality);
    EXPECT_EQ(keo::loadBE24(out + 8), 0x0A141Eu);
    EXPECT_EQ(keo::loadBE24(out + 11), 0x0A141Eu);
    EXPECT_EQ(keo::loadLE32(out + 14), 0xAAAAAAAAu);
}

// A whole frame with alpha decodes through the payload pipeline's DXT24-with-
// alpha layout, which only works if every block advances by 18 bytes.
TEST(DXT24AlphaBlocks, AlphaFrameRoundTripsThroughThePayloadDecoder) {
    const int width = 30, height = 22;
    const auto source = encode_test::naturalPicture(width, height, 11, true);
    uint64_t size = 0;
    ASSERT_TRUE(KEOBlockDataSize(width, height, true, true, &size));
    std::vector<unsigned char> sample(kKEOFrameHeaderSize + size + 18, 0xEE);
    _stbCompressARGB32_to24(&sample[kKEOFrameHeaderSize], source.data(), width, height, 0, true);
    for (size_t i = kKEOFrameHeaderSize + size; i < sample.size(); ++i)
        ASSERT_EQ(sample[i], 0xEE);
    sample.resize(kKEOFrameHeaderSize + size);

    KEOFrameHeader header{};
    header.headerSize = kKEOFrameHeaderSize;
    header.formatVersion = 1;
    header.hasAlpha = 1;
    header.isDXT24 = 1;
    header.payloadSize = static_cast<uint32_t>(size);
    header.write(sample.data());

    unsigned char* picture = nullptr;
    ASSERT_EQ(DecodeFramePayload(sample.data(), static_cast<unsigned>(sample.size()), width, height,
                                 &picture),
              kKEODecodeOK);
    const size_t pixels = static_cast<size_t>(width) * height;
    EXPECT_GT(encode_test::psnr(source.data(), picture, pixels), 36.0);
    EXPECT_GT(encode_test::psnr(source.data(), picture, pixels, true), 36.0);
    free(picture);
}

} // namespace
