// The decode pipeline: header checks, plain and LZF payloads, sizes, and
// hostile payloads (header values, payload sizes that lie, LZF streams cut
// short, overrunning their output or reaching before their start), each
// sample in its own exact-size allocation so the sanitizer sees the first
// byte read too far.
#include <gtest/gtest.h>

#include <lzf.h>

#include <climits>
#include <vector>

#include "codec/FramePayload.h"
#include "decode_support.h"

using namespace decode_test;

namespace {

// The baseline of the hostile cases: a plain 8x8 DXT1 frame, 28 + 32 bytes.
std::vector<unsigned char> baselineBlocks() {
    return randomBlockData(Layout::DXT1, 8, 8, 8);
}
std::vector<unsigned char> baselineSample() {
    return plainSample(Layout::DXT1, baselineBlocks());
}

// Block data smooth enough for LZF to find repeats.
std::vector<unsigned char> compressibleBlocks(Layout layout, int width, int height) {
    auto blocks = randomBlockData(layout, width, height, 5);
    const size_t size = blockSizeOf(layout);
    for (size_t at = size; at < blocks.size(); at += size)
        if ((at / size) % 3 != 0)
            std::memcpy(&blocks[at], &blocks[at - size], size);
    return blocks;
}

// An LZF frame of 8x8 DXT1 whose payload is the given raw stream.
std::vector<unsigned char> lzfStreamSample(const std::vector<unsigned char>& stream,
                                           int64_t payloadSize = -1) {
    SampleFields fields;
    fields.isLZF = 1;
    fields.payloadSize = payloadSize;
    return makeSample(fields, stream);
}

std::vector<unsigned char> literalRun(size_t count) {
    std::vector<unsigned char> run{static_cast<unsigned char>(count - 1)};
    for (size_t i = 0; i < count; ++i)
        run.push_back(static_cast<unsigned char>('a' + i % 26));
    return run;
}

void expectFails(const std::vector<unsigned char>& sample, int width, int height,
                 const char* what) {
    const Decoded d = decode(sample, width, height);
    EXPECT_EQ(d.result, kKEODecodeFailed) << what;
    EXPECT_TRUE(d.pictureNullOnFailure) << what;
}

} // namespace

TEST(DecodeFramePayload, BlockDataSizes) {
    uint64_t size = 0;
    ASSERT_TRUE(KEOBlockDataSize(1, 1, false, false, &size));
    EXPECT_EQ(size, 8u);
    ASSERT_TRUE(KEOBlockDataSize(5, 3, false, false, &size));
    EXPECT_EQ(size, 2u * 8);
    ASSERT_TRUE(KEOBlockDataSize(1920, 1080, true, false, &size));
    EXPECT_EQ(size, 1296000u);
    ASSERT_TRUE(KEOBlockDataSize(8, 8, true, true, &size));
    EXPECT_EQ(size, 4u * 18);
}

TEST(DecodeFramePayload, PlainAndLZFFramesOfEveryLayoutMatchTheReference) {
    const int sizes[][2] = {{1, 1}, {5, 3}, {5, 5}, {6, 6}, {17, 9}, {64, 48}};
    for (Layout layout : {Layout::DXT1, Layout::DXT5, Layout::DXT24, Layout::DXT24Alpha}) {
        for (const auto& size : sizes) {
            const int w = size[0], h = size[1];
            const auto blocks = compressibleBlocks(layout, w, h);
            const auto expected = referencePicture(layout, blocks, w, h);
            const Decoded plain = decode(plainSample(layout, blocks), w, h);
            ASSERT_EQ(plain.result, kKEODecodeOK);
            EXPECT_EQ(plain.picture, expected) << "plain " << static_cast<int>(layout);
            const auto lzf = lzfSample(layout, blocks);
            if (lzf.empty())
                continue; // too small to compress
            const Decoded unpacked = decode(lzf, w, h);
            ASSERT_EQ(unpacked.result, kKEODecodeOK);
            EXPECT_EQ(unpacked.picture, expected) << "LZF " << static_cast<int>(layout);
        }
    }
}

TEST(DecodeFramePayload, FlagsTheReaderIgnoresChangeNothing) {
    // Transparency on with "KEOOptimizeFor" 1: hasAlpha 1, isOpaque 0,
    // prefersDXT1 1, isDXT24 0 decodes through DXT5.
    const auto blocks = randomBlockData(Layout::DXT5, 8, 8, 3);
    auto sample = plainSample(Layout::DXT5, blocks);
    sample[24] = 0; // isOpaque
    sample[25] = 1; // prefersDXT1
    for (int reserved : {7, 8, 15, 20, 23, 27})
        sample[reserved] = 0xEE;
    const Decoded d = decode(sample, 8, 8);
    ASSERT_EQ(d.result, kKEODecodeOK);
    EXPECT_EQ(d.picture, referencePicture(Layout::DXT5, blocks, 8, 8));
}

// Every header field a file can set wrongly: lengths around the header's,
// unknown versions, header sizes, flag values other than 0 and 1.
TEST(DecodeFramePayload, HostileHeaderValues) {
    const auto base = baselineSample();
    const auto blocks = baselineBlocks();
    const auto expected = referencePicture(Layout::DXT1, blocks, 8, 8);

    expectFails(std::vector<unsigned char>(base.begin(), base.begin() + 28), 8, 8, "28 bytes");

    // 29 bytes: passes the length check, the plain copy is cut at the end.
    const Decoded shortOne =
        decode(std::vector<unsigned char>(base.begin(), base.begin() + 29), 8, 8);
    ASSERT_EQ(shortOne.result, kKEODecodeOK);
    std::vector<unsigned char> oneByte(blocks.size(), 0);
    oneByte[0] = blocks[0];
    EXPECT_EQ(shortOne.picture, referencePicture(Layout::DXT1, oneByte, 8, 8));

    auto version = base;
    version[4] = 2;
    expectFails(version, 8, 8, "formatVersion 2");
    version[4] = 0;
    const Decoded version0 = decode(version, 8, 8);
    ASSERT_EQ(version0.result, kKEODecodeOK);
    EXPECT_EQ(version0.picture, expected);

    auto headerSize = base;
    headerSize[0] = 29;
    expectFails(headerSize, 8, 8, "headerSize 29");
    headerSize[0] = 0xFF;
    headerSize[3] = 0x80;
    expectFails(headerSize, 8, 8, "headerSize above 2^31");

    // headerSize 0 and 20 move only the payload start; the flags stay at
    // their fixed offsets.
    for (uint32_t start : {0u, 20u}) {
        auto moved = base;
        moved[0] = static_cast<unsigned char>(start);
        const Decoded d = decode(moved, 8, 8);
        ASSERT_EQ(d.result, kKEODecodeOK) << "headerSize " << start;
        const std::vector<unsigned char> payload(moved.begin() + start, moved.begin() + start + 32);
        EXPECT_EQ(d.picture, referencePicture(Layout::DXT1, payload, 8, 8)) << start;
    }

    auto lzfFlag = base;
    lzfFlag[6] = 2;
    expectFails(lzfFlag, 8, 8, "isLZF 2");
    auto dxt24Flag = base;
    dxt24Flag[26] = 2;
    expectFails(dxt24Flag, 8, 8, "isDXT24 2");

    // hasAlpha 2 means DXT5: 64 bytes expected, 32 present, the rest stays
    // zero (black, alpha 0).
    auto alpha = base;
    alpha[5] = 2;
    const Decoded asDXT5 = decode(alpha, 8, 8);
    ASSERT_EQ(asDXT5.result, kKEODecodeOK);
    std::vector<unsigned char> padded = blocks;
    padded.resize(64, 0);
    EXPECT_EQ(asDXT5.picture, referencePicture(Layout::DXT5, padded, 8, 8));
}

// A plain payload size that disagrees with the sample: the copy stops at the
// shorter of the two.
TEST(DecodeFramePayload, PlainPayloadSizeThatLies) {
    const auto blocks = baselineBlocks();
    // payloadSize far past the 32 bytes present: cut at the sample's end.
    SampleFields huge;
    huge.payloadSize = 0xFFFFFFFF;
    const Decoded cut = decode(makeSample(huge, blocks), 8, 8);
    ASSERT_EQ(cut.result, kKEODecodeOK);
    EXPECT_EQ(cut.picture, referencePicture(Layout::DXT1, blocks, 8, 8));

    // payloadSize 10: the first block and two bytes of the second; the
    // remaining blocks are opaque black.
    SampleFields ten;
    ten.payloadSize = 10;
    const Decoded partial = decode(makeSample(ten, blocks), 8, 8);
    ASSERT_EQ(partial.result, kKEODecodeOK);
    std::vector<unsigned char> kept(blocks.begin(), blocks.begin() + 10);
    kept.resize(blocks.size(), 0);
    EXPECT_EQ(partial.picture, referencePicture(Layout::DXT1, kept, 8, 8));
    for (int y = 4; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const unsigned char* px = &partial.picture[(y * 8 + x) * 4];
            EXPECT_EQ(px[0], 255);
            EXPECT_EQ(px[1] | px[2] | px[3], 0);
        }
}

TEST(DecodeFramePayload, ShortPlainPayloadLeavesBlackBlocksPerLayout) {
    // One byte of payload: every block but the first decodes from zeros.
    for (Layout layout : {Layout::DXT1, Layout::DXT5, Layout::DXT24, Layout::DXT24Alpha}) {
        auto sample = plainSample(layout, std::vector<unsigned char>(1, 0));
        const Decoded d = decode(sample, 8, 4);
        ASSERT_EQ(d.result, kKEODecodeOK);
        const unsigned alpha = hasAlpha(layout) ? 0 : 255;
        for (int k = 0; k < 32; ++k) {
            const unsigned char* px = &d.picture[k * 4];
            EXPECT_EQ(px[0], alpha) << static_cast<int>(layout) << " pixel " << k;
            EXPECT_EQ(px[1] | px[2] | px[3], 0);
        }
    }
}

TEST(DecodeFramePayload, LZFLengthMustMatchTheBlockData) {
    const auto blocks = compressibleBlocks(Layout::DXT1, 32, 32);
    for (long delta : {-8L, -1L, 1L, 8L}) {
        std::vector<unsigned char> other = blocks;
        other.resize(blocks.size() + delta, 0x11);
        const auto sample = lzfSample(Layout::DXT1, other);
        ASSERT_FALSE(sample.empty());
        expectFails(sample, 32, 32, "stream of the wrong length");
    }
    // The same stream for a frame of the right size decodes.
    EXPECT_EQ(decode(lzfSample(Layout::DXT1, blocks), 32, 32).result, kKEODecodeOK);
    // DXT24 with alpha needs a stream of 18 bytes per block, not 10.
    const auto colourOnly = compressibleBlocks(Layout::DXT24, 32, 32);
    auto sample = lzfSample(Layout::DXT24, colourOnly);
    sample[5] = 1; // hasAlpha
    expectFails(sample, 32, 32, "DXT24 stream for a DXT24-with-alpha frame");
}

// An LZF payload longer than the sample that holds it.
TEST(DecodeFramePayload, LZFCutBySample) {
    const auto stream = literalRun(32); // 33 bytes
    auto sample = lzfStreamSample(stream, 33);
    sample.resize(28 + 20);
    expectFails(sample, 8, 8, "payloadSize 33, 20 stream bytes present");
    // Whole, the same stream is a valid frame.
    EXPECT_EQ(decode(lzfStreamSample(stream), 8, 8).result, kKEODecodeOK);
}

// A stream that would write past the block data it decompresses into.
TEST(DecodeFramePayload, LZFOutputOverrun) {
    auto stream = literalRun(32);
    stream.insert(stream.end(), {0xE0, 0x00, 0x00}); // a 9-byte copy
    expectFails(lzfStreamSample(stream), 8, 8, "copy past the block buffer");
}

// A back reference to bytes before the start of the output.
TEST(DecodeFramePayload, LZFBackReferenceBeforeStart) {
    expectFails(lzfStreamSample({0x20, 0x00, 0x00, 0x00}), 8, 8, "20 00");
    expectFails(lzfStreamSample({0x00, 'A', 0x3F, 0xFF, 0x00}), 8, 8, "00 'A' 3F FF");
}

// A stream that ends inside a literal run or a reference.
TEST(DecodeFramePayload, LZFTruncated) {
    expectFails(lzfStreamSample({0x1F, 'a', 'b', 'c'}), 8, 8, "1F + 3 bytes");
    auto stream = literalRun(32);
    stream.push_back(0xE0);
    expectFails(lzfStreamSample(stream), 8, 8, "32 literals + E0");
}

TEST(DecodeFramePayload, EveryTruncatedPrefixIsSafe) {
    const auto blocks = compressibleBlocks(Layout::DXT5, 24, 20);
    const auto lzf = lzfSample(Layout::DXT5, blocks);
    const auto plain = plainSample(Layout::DXT5, blocks);
    ASSERT_FALSE(lzf.empty());
    ASSERT_LT(lzf.size(), plain.size());

    for (size_t length = 0; length <= lzf.size(); ++length) {
        const Decoded d = decode(HeapBytes(lzf, length), 24, 20);
        EXPECT_EQ(d.result, length == lzf.size() ? kKEODecodeOK : kKEODecodeFailed)
            << "LZF prefix " << length;
        EXPECT_TRUE(d.pictureNullOnFailure);
    }
    for (size_t length = 0; length <= plain.size(); ++length) {
        const Decoded d = decode(HeapBytes(plain, length), 24, 20);
        if (length < 29) {
            EXPECT_EQ(d.result, kKEODecodeFailed) << "plain prefix " << length;
            continue;
        }
        ASSERT_EQ(d.result, kKEODecodeOK) << "plain prefix " << length;
        // Spot-check the cut: the picture equals the zero-padded prefix's.
        if (length % 97 == 0 || length == plain.size()) {
            std::vector<unsigned char> kept(plain.begin() + 28, plain.begin() + length);
            kept.resize(blocks.size(), 0);
            EXPECT_EQ(d.picture, referencePicture(Layout::DXT5, kept, 24, 20)) << length;
        }
    }
}

TEST(DecodeFramePayload, RefusedDimensionsAndArguments) {
    const auto sample = baselineSample();
    const std::pair<int, int> refused[] = {
        {0, 8},         {8, 0},       {-1, 8},      {8, -8},        {INT_MIN, INT_MIN},
        {65536, 65536}, {INT_MAX, 1}, {1, INT_MAX}, {(1 << 29), 1}, {46341, 46341},
        {16384, 32768}}; // the last: exactly 2^31 bytes, the first size refused
    for (const auto& [w, h] : refused) {
        const Decoded d = decode(sample, w, h);
        EXPECT_EQ(d.result, kKEODecodeFailed) << w << "x" << h;
        EXPECT_TRUE(d.pictureNullOnFailure);
        // The importer asks the same question before it announces a picture.
        EXPECT_FALSE(KEOPictureFits(w, h)) << w << "x" << h;
    }
    EXPECT_TRUE(KEOPictureFits(1, 1));
    EXPECT_TRUE(KEOPictureFits(16384, 32767)); // 2^31 - 65536 bytes
    EXPECT_EQ(
        DecodeFramePayload(sample.data(), static_cast<unsigned>(sample.size()), 8, 8, nullptr),
        kKEODecodeFailed);
    unsigned char* picture = nullptr;
    EXPECT_EQ(DecodeFramePayload(nullptr, 60, 8, 8, &picture), kKEODecodeFailed);
    EXPECT_EQ(picture, nullptr);
}

TEST(DecodeFramePayload, SampleLargerThanThePayloadIsFine) {
    // Trailing bytes after the payload (a host that reads a larger sample)
    // are neither decoded nor a reason to fail.
    auto sample = baselineSample();
    sample.insert(sample.end(), 100, 0xFF);
    const Decoded d = decode(sample, 8, 8);
    ASSERT_EQ(d.result, kKEODecodeOK);
    EXPECT_EQ(d.picture, referencePicture(Layout::DXT1, baselineBlocks(), 8, 8));
}
