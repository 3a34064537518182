// CompressDXTFrame: layout table, header flags, LZF use, failures, serialisation of concurrent
// encodes, and decode round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "codec/DXT1DXT5Encode.h"
#include "codec/DXT24Encode.h"
#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "codec/LZFDecode.h"
#include "codec/StbDxt.h"
#include "codec/encode_picture.h"

namespace {

struct Encoded {
    int length = 0;
    KEOFrameHeader header{};
    std::vector<unsigned char> sample; // the first `length` bytes of the destination
};

Encoded encodeFrame(const std::vector<unsigned char>& picture, int width, int height,
                    int transparency, int optimizeFor, int threads = 2, int rowBytes = 0) {
    uint64_t capacity = 0;
    EXPECT_TRUE(KEOMaxFramePayloadSize(width, height, &capacity));
    std::vector<unsigned char> dest(capacity, 0xEE);
    Encoded e;
    e.length = CompressDXTFrame(picture.data(), dest.data(), width, height, rowBytes, transparency,
                                optimizeFor, threads);
    if (e.length > 0) {
        e.header.read(dest.data());
        e.sample.assign(dest.begin(), dest.begin() + e.length);
    }
    return e;
}

std::vector<unsigned char> decode(const Encoded& e, int width, int height) {
    unsigned char* picture = nullptr;
    const int result = DecodeFramePayload(e.sample.data(), static_cast<unsigned>(e.sample.size()),
                                          width, height, &picture);
    EXPECT_EQ(result, kKEODecodeOK);
    if (result != kKEODecodeOK)
        return {};
    std::vector<unsigned char> out(picture, picture + static_cast<size_t>(width) * height * 4);
    free(picture);
    return out;
}

size_t blocks(int width, int height) {
    return static_cast<size_t>((width + 3) / 4) * ((height + 3) / 4);
}

TEST(FrameLayout, SettingsChooseLayoutAndFlags) {
    struct Case {
        int transparency, optimizeFor;
        bool isDXT24, lzf, prefersDXT1;
    } cases[] = {
        {0, 0, true, true, false},   {0, 1, false, true, true},  {0, 2, true, false, false},
        {0, 7, false, true, false},  {1, 0, false, true, false}, {1, 1, false, true, true},
        {1, 2, false, false, false}, {1, 7, false, true, false}, {5, -3, false, true, false},
    };
    const int width = 21, height = 10;
    const auto picture = encode_test::noisePicture(width, height, 1);
    for (const Case& c : cases) {
        const KEOEncodeSettings settings = KEOExportSettings(c.transparency, c.optimizeFor, 3);
        EXPECT_EQ(KEOLayoutIsDXT24(settings.layout), c.isDXT24);
        EXPECT_EQ(settings.tryLZF, c.lzf);
        EXPECT_EQ(settings.threads, 3);

        // Noise does not compress, so every case ends up plain and its size
        // shows the block layout.
        const Encoded e = encodeFrame(picture, width, height, c.transparency, c.optimizeFor);
        SCOPED_TRACE("transparency " + std::to_string(c.transparency) + ", optimize " +
                     std::to_string(c.optimizeFor));
        const bool alpha = c.transparency != 0;
        const int blockSize = c.isDXT24 ? 10 : (alpha ? 16 : 8);
        EXPECT_EQ(e.header.headerSize, 28u);
        EXPECT_EQ(e.header.formatVersion, 1);
        EXPECT_EQ(e.header.hasAlpha, alpha ? 1 : 0);
        EXPECT_EQ(e.header.isOpaque, alpha ? 0 : 1);
        EXPECT_EQ(e.header.prefersDXT1, c.prefersDXT1 ? 1 : 0);
        EXPECT_EQ(e.header.isDXT24, c.isDXT24 ? 1 : 0);
        EXPECT_EQ(e.header.isLZF, 0);
        EXPECT_EQ(e.header.payloadSize, blocks(width, height) * blockSize);
        EXPECT_EQ(e.length, 28 + static_cast<int>(e.header.payloadSize));
        // Reserved header bytes stay zero.
        for (int at : {7, 8, 15, 20, 23, 27})
            EXPECT_EQ(e.sample[at], 0) << at;
    }
}

// A caller asks for a layout and for LZF or not, and gets exactly that: the
// blocks plain after the header, or an LZF stream of those very blocks when
// it is shorter, with the flags the record gives; DXT1 without LZF is one
// the export settings cannot ask for. DXT24 with alpha is not written.
TEST(FrameLayout, ASettingsRecordGetsExactlyTheLayoutAndStorageItAsksFor) {
    const int width = 64, height = 36;
    const auto picture = encode_test::naturalPicture(width, height, 12, true);
    struct Case {
        KEOBlockLayout layout;
        bool lzf, prefersDXT1;
    } cases[] = {{kKEOLayoutDXT1, false, true},   {kKEOLayoutDXT1, true, false},
                 {kKEOLayoutDXT5, false, false},  {kKEOLayoutDXT5, true, true},
                 {kKEOLayoutDXT24, false, false}, {kKEOLayoutDXT24, true, false}};
    uint64_t capacity = 0;
    ASSERT_TRUE(KEOMaxFramePayloadSize(width, height, &capacity));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(KEOLayoutName(c.layout)) + (c.lzf ? " lzf" : " plain"));
        std::vector<unsigned char> dest(capacity);
        const int length = KEOEncodeFrame(picture.data(), dest.data(), width, height, 0,
                                          KEOEncodeSettings{c.layout, c.lzf, c.prefersDXT1, 3});
        ASSERT_GT(length, 28);
        KEOFrameHeader h;
        h.read(dest.data());
        EXPECT_EQ(h.layout(), c.layout);
        EXPECT_EQ(h.isOpaque, h.hasAlpha ? 0 : 1);
        EXPECT_EQ(h.prefersDXT1, c.prefersDXT1 ? 1 : 0);
        EXPECT_EQ(h.isLZF, c.lzf ? 1 : 0); // this picture compresses
        EXPECT_EQ(static_cast<uint32_t>(length), 28 + h.payloadSize);
        std::vector<unsigned char> expected(blocks(width, height) * KEOLayoutBlockSize(c.layout));
        if (c.layout == kKEOLayoutDXT24)
            _stbCompressARGB32_to24(expected.data(), picture.data(), width, height, 0, false);
        else
            stbCompressARGB32(expected.data(), picture.data(), width, height, 0,
                              c.layout == kKEOLayoutDXT5);
        std::vector<unsigned char> blockData(expected.size());
        if (c.lzf)
            ASSERT_EQ(KEOLZFDecompress(&dest[28], h.payloadSize, blockData.data(),
                                       static_cast<unsigned>(blockData.size())),
                      expected.size());
        else
            blockData.assign(dest.begin() + 28, dest.begin() + length);
        EXPECT_TRUE(blockData == expected);
    }
    std::vector<unsigned char> dest(capacity + 4096, 0xEE);
    EXPECT_EQ(KEOEncodeFrame(picture.data(), dest.data(), width, height, 0,
                             KEOEncodeSettings{kKEOLayoutDXT24Alpha, false, false, 1}),
              0);
    EXPECT_EQ(dest[0], 0xEE);
}

TEST(FrameLayout, PlainPayloadIsTheEncodersBlockData) {
    const int width = 1920, height = 40;
    const auto picture = encode_test::naturalPicture(width, height, 2);

    const Encoded dxt24 = encodeFrame(picture, width, height, 0, 2, 4);
    std::vector<unsigned char> expected(blocks(width, height) * 10);
    _stbCompressARGB32_to24(expected.data(), picture.data(), width, height, 0, false);
    ASSERT_EQ(dxt24.length, 28 + static_cast<int>(expected.size()));
    EXPECT_EQ(0, std::memcmp(&dxt24.sample[28], expected.data(), expected.size()));

    const Encoded dxt5 = encodeFrame(encode_test::noisePicture(9, 9, 3), 9, 9, 1, 2);
    std::vector<unsigned char> expected5(blocks(9, 9) * 16);
    stbCompressARGB32(expected5.data(), encode_test::noisePicture(9, 9, 3).data(), 9, 9, 36, true);
    ASSERT_EQ(dxt5.length, 28 + static_cast<int>(expected5.size()));
    EXPECT_EQ(0, std::memcmp(&dxt5.sample[28], expected5.data(), expected5.size()));
}

TEST(FrameLZF, UniformFrameIsStoredAsAShortStream) {
    const int width = 640, height = 360;
    std::vector<unsigned char> picture(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < picture.size(); i += 4) {
        picture[i] = 255;
        picture[i + 1] = 12;
        picture[i + 2] = 150;
        picture[i + 3] = 220;
    }
    for (int optimize : {0, 1}) {
        const Encoded e = encodeFrame(picture, width, height, 0, optimize);
        const size_t plain = blocks(width, height) * (optimize == 0 ? 10 : 8);
        EXPECT_EQ(e.header.isLZF, 1);
        EXPECT_LT(e.header.payloadSize * 20, plain);
        EXPECT_EQ(e.length, 28 + static_cast<int>(e.header.payloadSize));
        const auto decoded = decode(e, width, height);
        ASSERT_FALSE(decoded.empty());
        // DXT24 keeps any colour; DXT1 only its nearest 5:6:5 mixes.
        EXPECT_GT(encode_test::psnr(picture.data(), decoded.data(), decoded.size() / 4),
                  optimize == 0 ? 98.0 : 40.0);
    }
    // Optimize 2 never tries LZF.
    const Encoded plain = encodeFrame(picture, width, height, 0, 2);
    EXPECT_EQ(plain.header.isLZF, 0);
    EXPECT_EQ(plain.header.payloadSize, blocks(width, height) * 10);
}

TEST(FrameLZF, NoiseFallsBackToPlainBlocks) {
    const int width = 128, height = 64;
    const auto picture = encode_test::noisePicture(width, height, 4);
    for (int transparency : {0, 1}) {
        const Encoded e = encodeFrame(picture, width, height, transparency, 1);
        EXPECT_EQ(e.header.isLZF, 0);
        EXPECT_EQ(e.header.payloadSize, blocks(width, height) * (transparency ? 16 : 8));
        ASSERT_FALSE(decode(e, width, height).empty());
    }
}

TEST(FrameDXT1, SixBySixRepeatsTheEdgePixels) {
    const int width = 6, height = 6;
    const auto picture = encode_test::noisePicture(width, height, 5);
    const Encoded e = encodeFrame(picture, width, height, 0, 1);
    ASSERT_EQ(e.header.isLZF, 0);
    ASSERT_EQ(e.header.payloadSize, 32u);
    for (int by = 0; by < 2; ++by) {
        for (int bx = 0; bx < 2; ++bx) {
            alignas(16) unsigned char block[64];
            for (int j = 0; j < 4; ++j) {
                for (int i = 0; i < 4; ++i) {
                    const int x = std::min(bx * 4 + i, width - 1);
                    const int y = std::min(by * 4 + j, height - 1);
                    const unsigned char* p = &picture[(y * width + x) * 4];
                    unsigned char* q = &block[(j * 4 + i) * 4];
                    q[0] = p[1];
                    q[1] = p[2];
                    q[2] = p[3];
                    q[3] = p[0];
                }
            }
            unsigned char expected[16];
            keo::stb_compress_dxt_block(expected, block, 0, keo::kStbDxtHighQuality);
            EXPECT_EQ(0, std::memcmp(&e.sample[28 + (by * 2 + bx) * 8], expected, 8))
                << bx << "," << by;
        }
    }
}

TEST(FrameFailures, BadArgumentsReturnZeroAndWriteNothing) {
    const auto picture = encode_test::noisePicture(8, 8, 6);
    std::vector<unsigned char> dest(1024, 0xEE);
    EXPECT_EQ(CompressDXTFrame(picture.data(), dest.data(), 0, 8, 0, 0, 0, 1), 0);
    EXPECT_EQ(CompressDXTFrame(picture.data(), dest.data(), 8, -1, 0, 0, 1, 1), 0);
    EXPECT_EQ(CompressDXTFrame(nullptr, dest.data(), 8, 8, 0, 1, 0, 1), 0);
    EXPECT_EQ(CompressDXTFrame(picture.data(), nullptr, 8, 8, 0, 1, 0, 1), 0);
    // Block data of 2^31 bytes or more cannot be returned as a length.
    EXPECT_EQ(CompressDXTFrame(picture.data(), dest.data(), 65536, 65536, 0, 1, 0, 1), 0);
    for (unsigned char b : dest)
        ASSERT_EQ(b, 0xEE);
}

// Two exports at once take turns; neither sees the other's blocks.
TEST(FrameConcurrency, SimultaneousEncodesMatchSequentialOnes) {
    const int width = 160, height = 96;
    const auto a = encode_test::naturalPicture(width, height, 21);
    const auto b = encode_test::naturalPicture(width, height, 22);
    for (int optimize : {1, 0}) {
        const Encoded expectA = encodeFrame(a, width, height, 0, optimize, 4);
        const Encoded expectB = encodeFrame(b, width, height, 1, optimize, 4);
        for (int round = 0; round < 5; ++round) {
            Encoded gotA, gotB;
            std::thread t([&] { gotA = encodeFrame(a, width, height, 0, optimize, 4); });
            gotB = encodeFrame(b, width, height, 1, optimize, 4);
            t.join();
            ASSERT_EQ(gotA.sample, expectA.sample);
            ASSERT_EQ(gotB.sample, expectB.sample);
        }
    }
}

// Round trips on a natural-looking picture whose sides are not multiples of 4.
// The floors sit about 2 dB under what this picture gives; DXT24's 8:8:8 end
// points must beat DXT1's 5:6:5 ones.
TEST(FrameRoundTrip, EveryLayoutDecodesCloseToItsSource) {
    const int width = 250, height = 190;
    const auto opaque = encode_test::naturalPicture(width, height, 42);
    const auto translucent = encode_test::naturalPicture(width, height, 42, true);
    const size_t pixels = static_cast<size_t>(width) * height;

    const Encoded dxt1 = encodeFrame(opaque, width, height, 0, 1);
    const Encoded dxt24 = encodeFrame(opaque, width, height, 0, 0, 8);
    const Encoded dxt24Plain = encodeFrame(opaque, width, height, 0, 2, 8);
    const Encoded dxt5 = encodeFrame(translucent, width, height, 1, 0);
    ASSERT_EQ(dxt24.header.isDXT24, 1);
    ASSERT_EQ(dxt24Plain.header.isLZF, 0);
    ASSERT_EQ(dxt5.header.hasAlpha, 1);

    const double psnr1 =
        encode_test::psnr(opaque.data(), decode(dxt1, width, height).data(), pixels);
    const double psnr24 =
        encode_test::psnr(opaque.data(), decode(dxt24, width, height).data(), pixels);
    const double psnr24Plain =
        encode_test::psnr(opaque.data(), decode(dxt24Plain, width, height).data(), pixels);
    const auto decoded5 = decode(dxt5, width, height);
    const double psnr5 = encode_test::psnr(translucent.data(), decoded5.data(), pixels);
    const double psnr5Alpha = encode_test::psnr(translucent.data(), decoded5.data(), pixels, true);

    // Measured: DXT1 40.0, DXT24 42.1, DXT5 40.0 with alpha 46.4 dB.
    EXPECT_GT(psnr1, 38.0);
    EXPECT_GT(psnr24, 40.5);
    EXPECT_DOUBLE_EQ(psnr24, psnr24Plain);
    EXPECT_GT(psnr24, psnr1 + 1.5);
    EXPECT_GT(psnr5, 38.0);
    EXPECT_GT(psnr5Alpha, 44.0);
    RecordProperty("psnr_dxt1", std::to_string(psnr1));
    RecordProperty("psnr_dxt24", std::to_string(psnr24));
    RecordProperty("psnr_dxt5", std::to_string(psnr5));
    std::printf("PSNR dB: DXT1 %.2f, DXT24 %.2f, DXT5 %.2f (alpha %.2f)\n", psnr1, psnr24, psnr5,
                psnr5Alpha);
}

} // namespace
