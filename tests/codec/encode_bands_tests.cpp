// Banded frame encodes: the blocks of every band equal the whole-frame
// encode's, the bands' LZF streams joined are one stream that liblzf decodes
// to the whole block data, and frames come out byte for byte the same on 1,
// 2 and many workers, whichever worker takes which band.
#include <gtest/gtest.h>

#include <lzf.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/BandedEncode.h"
#include "codec/DXT1DXT5Encode.h"
#include "codec/DXT24Encode.h"
#include "codec/EncoderThreads.h"
#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "codec/encode_picture.h"

namespace {

enum class Kind { DXT1, DXT5, DXT24 };

int blockSize(Kind kind) {
    return kind == Kind::DXT1 ? 8 : kind == Kind::DXT5 ? 16 : 10;
}

KEOBlockLayout layoutOf(Kind kind) {
    return kind == Kind::DXT1   ? kKEOLayoutDXT1
           : kind == Kind::DXT5 ? kKEOLayoutDXT5
                                : kKEOLayoutDXT24;
}

size_t blockDataBytes(Kind kind, int width, int height) {
    return static_cast<size_t>((width + 3) / 4) * ((height + 3) / 4) * blockSize(kind);
}

// The whole frame in one call of the block encoder.
std::vector<unsigned char> wholeFrameBlocks(Kind kind, const std::vector<unsigned char>& picture,
                                            int width, int height, int rowBytes) {
    std::vector<unsigned char> blocks(blockDataBytes(kind, width, height));
    if (kind == Kind::DXT24)
        _stbCompressARGB32_to24(blocks.data(), picture.data(), width, height, rowBytes, false);
    else
        stbCompressARGB32(blocks.data(), picture.data(), width, height, rowBytes,
                          kind == Kind::DXT5);
    return blocks;
}

// What a banded encode leaves: the block data and the joined streams.
struct Banded {
    std::vector<unsigned char> blocks;
    std::vector<unsigned char> joined;
    int bandCount = 0;
};

// workers 0: the calling thread alone; otherwise a pool of its own.
Banded encodeBanded(Kind kind, const std::vector<unsigned char>& picture, int width, int height,
                    int rowBytes, int workers) {
    KEOBandedFrame frame;
    frame.source = picture.data();
    frame.width = width;
    frame.height = height;
    frame.rowBytes = rowBytes;
    frame.layout = layoutOf(kind);
    frame.compress = true;
    EXPECT_TRUE(KEOPlanBands(&frame));
    Banded out;
    out.blocks.assign(blockDataBytes(kind, width, height), 0);
    std::vector<unsigned char> packed(static_cast<size_t>(frame.bandCount) * frame.bandRoom);
    std::vector<unsigned int> lengths(static_cast<size_t>(frame.bandCount));
    frame.blocks = out.blocks.data();
    frame.packed = packed.data();
    frame.packedLengths = lengths.data();
    if (workers == 0) {
        KEOEncodeBands(&frame);
    } else {
        std::unique_ptr<ThreadInfo[]> infos(new ThreadInfo[workers]);
        std::unique_ptr<pthread_t[]> ids(new pthread_t[workers]);
        EXPECT_EQ(StartWorkers(infos.get(), ids.get(), workers), workers);
        EncodeBandsOnWorkers(infos.get(), workers, workers, &frame);
        StopWorkers(infos.get(), ids.get(), workers);
    }
    out.bandCount = frame.bandCount;
    const size_t length = KEOPackedBandsLength(&frame);
    EXPECT_GT(length, 0u);
    out.joined.resize(length);
    KEOJoinPackedBands(&frame, out.joined.data());
    return out;
}

TEST(BandedEncode, BandsCoverTheFrameInFixedBlockRows) {
    KEOBandedFrame frame;
    frame.width = 1920;
    frame.height = 1080;
    frame.layout = kKEOLayoutDXT1;
    ASSERT_TRUE(KEOPlanBands(&frame));
    EXPECT_EQ(frame.bandCount, 34); // 270 block rows: 33 bands of 8 and one of 6
    EXPECT_EQ(frame.blockRowBytes, 480u * 8);
    EXPECT_EQ(frame.bandBytes, 480u * 8 * 8);
    EXPECT_GT(frame.bandRoom, frame.bandBytes + frame.bandBytes / 32);
    frame.height = 32;
    ASSERT_TRUE(KEOPlanBands(&frame));
    EXPECT_EQ(frame.bandCount, 1);
    frame.height = 33;
    ASSERT_TRUE(KEOPlanBands(&frame));
    EXPECT_EQ(frame.bandCount, 2);
    frame.height = 0;
    EXPECT_FALSE(KEOPlanBands(&frame));
}

// Heights around the band size (a last band of 1 to 4 rows, or none), a
// row pitch with padding, and every layout; each on the calling thread and
// on 1, 2, 3 and 8 workers.
TEST(BandedEncode, EveryWorkerCountGivesTheWholeFrameBlocksAndOneValidStream) {
    const int width = 37;
    for (Kind kind : {Kind::DXT1, Kind::DXT5, Kind::DXT24})
        for (int height : {1, 5, 29, 32, 33, 35, 64, 97}) {
            for (int pad : {0, 12}) {
                const int rowBytes = pad ? width * 4 + pad : 0;
                const int pitch = width * 4 + pad;
                std::vector<unsigned char> picture(static_cast<size_t>(pitch) * height);
                const auto natural =
                    encode_test::naturalPicture(width, height, height + pad, kind == Kind::DXT5);
                for (int y = 0; y < height; ++y)
                    std::memcpy(&picture[static_cast<size_t>(y) * pitch], &natural[y * width * 4],
                                width * 4);
                SCOPED_TRACE(testing::Message()
                             << "layout " << int(kind) << ", height " << height << ", pad " << pad);
                const auto whole = wholeFrameBlocks(kind, picture, width, height, rowBytes);
                const Banded single = encodeBanded(kind, picture, width, height, rowBytes, 0);
                EXPECT_EQ(single.blocks, whole);
                // liblzf takes the joined streams as one stream.
                std::vector<unsigned char> unpacked(whole.size());
                ASSERT_EQ(lzf_decompress(single.joined.data(),
                                         static_cast<unsigned>(single.joined.size()),
                                         unpacked.data(), static_cast<unsigned>(unpacked.size())),
                          whole.size());
                EXPECT_EQ(unpacked, whole);
                for (int workers : {1, 2, 3, 8}) {
                    const Banded threaded =
                        encodeBanded(kind, picture, width, height, rowBytes, workers);
                    EXPECT_EQ(threaded.blocks, whole) << workers << " workers";
                    EXPECT_EQ(threaded.joined, single.joined) << workers << " workers";
                }
            }
        }
}

// Whole frames through CompressDXTFrame on the process-wide pool: the same
// sample for any thread count, LZF or plain.
TEST(BandedEncode, FramesAreTheSameForAnyThreadCount) {
    const int width = 200, height = 150;
    const auto opaque = encode_test::naturalPicture(width, height, 21, false);
    const auto translucent = encode_test::naturalPicture(width, height, 22, true);
    uint64_t room = 0;
    ASSERT_TRUE(KEOMaxFramePayloadSize(width, height, &room));
    // (transparency, optimizeFor): DXT1+LZF, DXT5+LZF, DXT24+LZF, DXT24 plain.
    const int settings[][2] = {{0, 1}, {1, 1}, {0, 0}, {0, 2}};
    for (const auto& s : settings) {
        const auto& picture = s[0] ? translucent : opaque;
        std::vector<unsigned char> first;
        for (int threads : {1, 2, 3, 8, 32}) {
            std::vector<unsigned char> out(room);
            const int length =
                CompressDXTFrame(picture.data(), out.data(), width, height, 0, s[0], s[1], threads);
            ASSERT_GT(length, 0);
            out.resize(static_cast<size_t>(length));
            if (first.empty())
                first = out;
            else
                EXPECT_EQ(out, first)
                    << "settings " << s[0] << "/" << s[1] << ", " << threads << " threads";
        }
        KEOFrameHeader header;
        header.read(first.data());
        EXPECT_EQ(header.isLZF, s[1] == 2 ? 0 : 1);
    }
}

// Workers that cannot start leave their bands to the others.
std::atomic<int> g_threadCalls{0};
int everyOtherThreadFails(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                          void* arg) {
    if (g_threadCalls++ % 2 == 0)
        return EAGAIN;
    return pthread_create(thread, attr, start, arg);
}

TEST(BandedEncode, WorkersThatCannotStartLeaveTheirBandsToTheOthers) {
    const int width = 64, height = 200;
    const auto picture = encode_test::naturalPicture(width, height, 3, true);
    const Banded single = encodeBanded(Kind::DXT5, picture, width, height, 0, 0);

    g_threadCalls = 0;
    KEOSetThreadCreateForTesting(everyOtherThreadFails);
    std::unique_ptr<ThreadInfo[]> infos(new ThreadInfo[4]);
    std::unique_ptr<pthread_t[]> ids(new pthread_t[4]);
    const int running = StartWorkers(infos.get(), ids.get(), 4);
    KEOSetThreadCreateForTesting(nullptr);
    EXPECT_EQ(running, 2);

    KEOBandedFrame frame;
    frame.source = picture.data();
    frame.width = width;
    frame.height = height;
    frame.rowBytes = 0;
    frame.layout = kKEOLayoutDXT5;
    frame.compress = false;
    ASSERT_TRUE(KEOPlanBands(&frame));
    std::vector<unsigned char> blocks(single.blocks.size());
    frame.blocks = blocks.data();
    frame.packed = nullptr;
    frame.packedLengths = nullptr;
    EncodeBandsOnWorkers(infos.get(), 4, 4, &frame);
    StopWorkers(infos.get(), ids.get(), 4);
    EXPECT_EQ(blocks, single.blocks);
}

} // namespace
