// Frames decoded straight into the host's rows: the same pixels as a picture
// decoded on its own, turned upside down and spread to the host's pitch, for
// every block layout, plain and LZF; and a frame that fails its checks
// writes nothing.
#include <lzf.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ImporterDriver.h"
#include "codec/FramePayload.h"
#include "container/MovFile.h"
#include "importer/SourceVideo.h"

namespace keoimp {
namespace {

using keotest::Bytes;

// An odd size, so the right and bottom edge blocks are clipped.
constexpr int kWidth = 13;
constexpr int kHeight = 7;

struct Layout {
    const char* name;
    bool alpha, dxt24;
};
const Layout kLayouts[] = {
    {"DXT1", false, false},
    {"DXT5", true, false},
    {"DXT24", false, true},
    {"DXT24+alpha", true, true},
};

// KeoFrame's payload with every other block a copy of the one before, so
// that LZF finds repeats, stored as an LZF stream.
Bytes LzfFrame(const Layout& layout, uint32_t seed) {
    Bytes plain = KeoFrame(kWidth, kHeight, layout.alpha, layout.dxt24, seed);
    const size_t blockSize =
        static_cast<size_t>(KEOLayoutBlockSize(KEOLayoutOfFlags(layout.dxt24, layout.alpha)));
    unsigned char* blocks = plain.data() + kKEOFrameHeaderSize;
    const size_t blockBytes = plain.size() - kKEOFrameHeaderSize;
    for (size_t at = blockSize; at + blockSize <= blockBytes; at += 2 * blockSize)
        std::memcpy(blocks + at, blocks + at - blockSize, blockSize);
    Bytes packed(plain.size());
    const unsigned length =
        lzf_compress(blocks, static_cast<unsigned>(blockBytes), packed.data() + kKEOFrameHeaderSize,
                     static_cast<unsigned>(blockBytes));
    if (length == 0)
        return plain; // the caller's isLZF check then fails
    KEOFrameHeader header;
    header.read(plain.data());
    header.isLZF = 1;
    header.payloadSize = length;
    header.write(packed.data());
    packed.resize(kKEOFrameHeaderSize + length);
    return packed;
}

// The host frame as the request built it before frames were decoded in one
// pass: a packed picture, copied bottom row first into the frame's memory,
// then spread in place to the frame's pitch.
std::vector<char> OldPathFrame(const Bytes& sample, int32_t rowBytes) {
    std::vector<char> frame(static_cast<size_t>(rowBytes) * kHeight, static_cast<char>(0xCD));
    unsigned char* picture = nullptr;
    if (DecodeFramePayload(sample.data(), static_cast<unsigned>(sample.size()), kWidth, kHeight,
                           &picture) != kKEODecodeOK)
        return {};
    const size_t packed = kWidth * 4;
    for (int r = 0; r < kHeight; r++)
        std::memcpy(frame.data() + (kHeight - 1 - r) * packed, picture + r * packed, packed);
    std::free(picture);
    AddRowPadding(frame.data(), frame.data(), static_cast<unsigned>(rowBytes), 4, kWidth, kHeight);
    return frame;
}

class FrameRowsTest : public ImporterTest {};

TEST_F(FrameRowsTest, OnePassEqualsPictureFlippedAndPaddedForEveryLayout) {
    MovieRecipe recipe;
    recipe.width = kWidth;
    recipe.height = kHeight;
    for (const Layout& layout : kLayouts) {
        recipe.frames.push_back(KeoFrame(kWidth, kHeight, layout.alpha, layout.dxt24, 7));
        recipe.frames.push_back(LzfFrame(layout, 11));
        ASSERT_EQ(recipe.frames.back()[6], 1) << layout.name << ": the LZF frame is plain";
    }
    const Bytes movie = BuildMovie(recipe).bytes();
    const PrTime tick = ticksOf(PrVideoFrameRate_25);

    // No padding, a pitch that is not a multiple of the pixel size, and wide.
    for (int32_t padding : {0, 3, 16, 60}) {
        SCOPED_TRACE(padding);
        keo::host::setRowPadding(host, padding);
        ASSERT_EQ(open(movie), 0);
        ASSERT_EQ(info(), 0);
        for (size_t i = 0; i < recipe.frames.size(); i++) {
            SCOPED_TRACE(std::string(kLayouts[i / 2].name) + (i % 2 ? " LZF" : " plain"));
            PPixHand frame = nullptr;
            ASSERT_EQ(sourceVideo(tick * static_cast<PrTime>(i), &frame), 0);
            const keo::host::FrameInfo fi = keo::host::describeFrame(host, frame);
            ASSERT_TRUE(fi.found);
            ASSERT_EQ(fi.rowBytes, kWidth * 4 + padding);
            const std::vector<char> expected = OldPathFrame(recipe.frames[i], fi.rowBytes);
            ASSERT_FALSE(expected.empty());
            const char* got = reinterpret_cast<const char*>(fi.pixels);
            for (int k = 0; k < kHeight; k++) {
                EXPECT_EQ(std::memcmp(got + k * fi.rowBytes, expected.data() + k * fi.rowBytes,
                                      kWidth * 4),
                          0)
                    << "memory row " << k;
                // The padding is the host's: left as the host filled it.
                for (int b = kWidth * 4; b < fi.rowBytes; b++)
                    ASSERT_EQ(fi.pixels[k * fi.rowBytes + b], 0xCD) << "row " << k;
            }
        }
        closeFile();
        keo::host::clearFrameCache(host);
    }
}

// A movie of the given samples at kWidth x kHeight opened into a bare record,
// for calling the request's reading path directly.
struct DirectRecord {
    explicit DirectRecord(const std::vector<Bytes>& frames) {
        MovieRecipe recipe;
        recipe.width = kWidth;
        recipe.height = kHeight;
        recipe.frames = frames;
        file = std::make_unique<keotest::TempFile>(BuildMovie(recipe).bytes());
        rec.movFile = new MovFile();
        rec.fileRef = rec.movFile->openRead(file->path.c_str());
    }
    ~DirectRecord() {
        rec.movFile->close();
        delete rec.movFile;
    }
    std::unique_ptr<keotest::TempFile> file;
    ImporterLocalRec8 rec{};
};

TEST_F(FrameRowsTest, FailingFramesLeaveTheDestinationUntouched) {
    const Layout& dxt1 = kLayouts[0];
    const Bytes good = LzfFrame(dxt1, 3);
    Bytes badVersion = good;
    badVersion[4] = 2;
    Bytes badLayout = good;
    badLayout[26] = 2;
    // The stream two bytes short, its size field saying so.
    Bytes shortStream = good;
    shortStream[16] = static_cast<uint8_t>(shortStream[16] - 2);
    shortStream.resize(shortStream.size() - 2);
    // A stream of one block more than the frame holds.
    Bytes longStream = LzfFrame(dxt1, 3);
    {
        Bytes blocks(static_cast<size_t>(KEOLayoutBlockSize(kKEOLayoutDXT1)) * 4 * 2 + 8, 0x42);
        Bytes packed(blocks.size() + 64);
        unsigned n = lzf_compress(blocks.data(), static_cast<unsigned>(blocks.size()),
                                  packed.data(), static_cast<unsigned>(packed.size()));
        ASSERT_GT(n, 0u);
        longStream.resize(kKEOFrameHeaderSize);
        longStream.insert(longStream.end(), packed.begin(), packed.begin() + n);
        longStream[16] = static_cast<uint8_t>(n);
        longStream[17] = longStream[18] = longStream[19] = 0;
    }
    DirectRecord movie({good, badVersion, badLayout, shortStream, longStream});
    ASSERT_NE(movie.rec.fileRef, nullptr);

    const int64_t pitch = kWidth * 4 + 20;
    std::vector<char> dest(static_cast<size_t>(pitch) * kHeight, 0x5A);
    const std::vector<char> untouched = dest;
    for (int frame = 1; frame <= 4; frame++) {
        EXPECT_EQ(ReadFrameIntoRows(&movie.rec, frame, nullptr, dest.data(), pitch), 99) << frame;
        EXPECT_EQ(dest, untouched) << "frame " << frame << " wrote into the destination";
    }
    // A pitch narrower than a row, and a size other than the movie's.
    EXPECT_EQ(ReadFrameIntoRows(&movie.rec, 0, nullptr, dest.data(), kWidth * 4 - 1), 99);
    imFrameFormat other{kWidth + 1, kHeight, PrPixelFormat_ARGB_4444_8u};
    EXPECT_EQ(ReadFrameIntoRows(&movie.rec, 0, &other, dest.data(), pitch), 99);
    EXPECT_EQ(dest, untouched);

    // The good frame fills exactly the pixel bytes of every row.
    ASSERT_EQ(ReadFrameIntoRows(&movie.rec, 0, nullptr, dest.data(), pitch), 0);
    const std::vector<char> expected = OldPathFrame(good, static_cast<int32_t>(pitch));
    for (int k = 0; k < kHeight; k++) {
        EXPECT_EQ(std::memcmp(dest.data() + k * pitch, expected.data() + k * pitch, kWidth * 4), 0);
        EXPECT_EQ(std::memcmp(dest.data() + k * pitch + kWidth * 4,
                              untouched.data() + k * pitch + kWidth * 4, pitch - kWidth * 4),
                  0);
    }
    // ReadFrameToBuffer still gives packed rows, bottom row first.
    std::vector<char> packed(static_cast<size_t>(kWidth) * 4 * kHeight, 0x5A);
    ImporterLocalRec8* rec = &movie.rec;
    ASSERT_EQ(ReadFrameToBuffer(nullptr, &rec, 0, nullptr, nullptr, packed.data()), 0);
    const std::vector<char> packedExpected = OldPathFrame(good, kWidth * 4);
    EXPECT_EQ(packed, packedExpected);
    EXPECT_EQ(ReadFrameToBuffer(nullptr, &rec, 3, nullptr, nullptr, packed.data()), 99);
    EXPECT_EQ(packed, packedExpected);
}

TEST_F(FrameRowsTest, FailingFrameIsDisposedNotCachedThroughTheEntry) {
    Bytes cut = LzfFrame(kLayouts[2], 5);
    cut[16] = static_cast<uint8_t>(cut[16] - 1);
    cut.pop_back();
    MovieRecipe recipe;
    recipe.width = kWidth;
    recipe.height = kHeight;
    recipe.frames = {cut, LzfFrame(kLayouts[2], 6)};
    ASSERT_EQ(open(BuildMovie(recipe).bytes()), 0);
    ASSERT_EQ(info(), 0);
    PPixHand frame = reinterpret_cast<PPixHand>(1);
    EXPECT_EQ(sourceVideo(0, &frame), imFrameOrAudioErr);
    EXPECT_EQ(frame, nullptr);
    keo::host::HostCounters c = keo::host::counters(host);
    EXPECT_EQ(c.framesCreated, 1);
    EXPECT_EQ(c.framesLive, 0);
    EXPECT_EQ(c.cacheAdds, 0);
    EXPECT_EQ(sourceVideo(ticksOf(PrVideoFrameRate_25), &frame), 0);
    EXPECT_EQ(keo::host::counters(host).cacheAdds, 1);
}

} // namespace
} // namespace keoimp
