// The writer's tables and times: the time-scale rule, durations in single
// precision, merged sample-to-chunk runs, growth past the first room, an
// empty movie and taking frames back.
#include <gtest/gtest.h>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "writer_support.h"

using namespace writertest;

namespace {

const std::string kStbl = "moov/trak/mdia/minf/stbl/";

// (sample count, duration) of the first stts entry of the first track.
std::pair<uint64_t, uint64_t> firstTimeToSample(const Bytes& f) {
    Span stts = find(f, kStbl + "stts");
    EXPECT_EQ(be(f, stts.start + 12, 4), 1u);
    return {be(f, stts.start + 16, 4), be(f, stts.start + 20, 4)};
}

void writeBlock(MovFile& movie, int samples, int bytesPerFrame, uint32_t seed) {
    Bytes block = pattern(static_cast<size_t>(samples * bytesPerFrame), seed);
    LargeFp* fp = movie.prepareToWriteAudioSample();
    ASSERT_NE(fp, nullptr);
    ASSERT_EQ(fwrite_L(block.data(), block.size(), 1, fp), block.size());
    ASSERT_EQ(movie.endWriteAudioSample(samples), 0);
}

struct RateCase {
    keo::FrameRate rate;
    uint64_t timeScale;
    uint64_t sampleDuration;
};

} // namespace

// The pair a rate is stored as, in the movie header, the media header and
// the time-to-sample table, and read back: where the writer's first rule
// held the rate exactly its pair stays, byte for byte; every other rate gets
// an exact pair of its own (the rows after 60000/1001, whose old pairs
// were 12513/1001, 8342/1001, 7508/1001, 12513/1001, 2336/1001,
// 39000/1000, 67108900/99, and no movie at all for a frame in 10000
// seconds).
TEST(WriterTimes, EveryRateIsStoredExactly) {
    const RateCase cases[] = {
        {{24, 1}, 600, 25},
        {{25, 1}, 600, 24},
        {{30, 1}, 600, 20},
        {{15, 1}, 600, 40},
        {{50, 1}, 600, 12},
        {{60, 1}, 600, 10},
        {{100, 1}, 600, 6},
        {{120, 1}, 600, 5},
        {{7, 1}, 700, 100},
        {{13, 1}, 1300, 100},
        {{48, 1}, 4800, 100},
        {{1000, 1}, 100000, 100},
        {{24000, 1001}, 24000, 1001},
        {{30000, 1001}, 30000, 1001},
        {{60000, 1001}, 60000, 1001},
        {{15000, 1001}, 15000, 1001},
        {{25, 2}, 600, 48},
        {{25, 3}, 600, 72},
        {{15, 2}, 600, 80},
        {{50, 4}, 600, 48},
        {{7, 3}, 602, 258},
        {{39000, 1001}, 3000, 77},
        {{671089, 1}, 671089, 1},
        {{1, 10000}, 600, 6000000},
        {{1, 10000000}, 214, 2140000000},
    };
    for (const RateCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate.num) + "/" + std::to_string(c.rate.den));
        const QuicktimeTimeBase base = QuicktimeMVHD::getTimeBase(c.rate);
        EXPECT_EQ(base.timeScale, static_cast<int64_t>(c.timeScale));
        EXPECT_EQ(base.sampleDuration, static_cast<int64_t>(c.sampleDuration));
        TempMovie temp;
        ASSERT_EQ(writeVideoMovie(temp.path, {8, 8}, c.rate), 0);
        Bytes f = readFile(temp.path);
        EXPECT_EQ(be(f, find(f, "moov/mvhd").start + 20, 4), c.timeScale);
        EXPECT_EQ(be(f, find(f, "moov/trak/mdia/mdhd").start + 20, 4), c.timeScale);
        EXPECT_EQ(firstTimeToSample(f), std::make_pair(uint64_t{2}, c.sampleDuration));

        MovFile reader;
        ASSERT_NE(reader.openRead(temp.path.c_str()), nullptr);
        int n = 0, d = 0;
        reader.frameRate(n, d);
        EXPECT_EQ(n, static_cast<int>(c.timeScale));
        EXPECT_EQ(d, static_cast<int>(c.sampleDuration));
        reader.close();
    }
}

// Beyond the table: every whole rate the first rule held keeps its pair (600
// where the rate divides it, else hundredths), and every fraction, whatever
// its terms, comes out exact and within the 32-bit fields.
TEST(WriterTimes, WholeRatesKeepTheirPairsAndEveryFractionIsExact) {
    for (int32_t n = 1; n <= 671088; ++n) {
        const QuicktimeTimeBase b = QuicktimeMVHD::getTimeBase({n, 1});
        const int64_t scale = 600 % n == 0 ? 600 : int64_t{100} * n;
        ASSERT_EQ(b.timeScale, scale) << n;
        ASSERT_EQ(b.sampleDuration, scale / n) << n;
    }
    for (int32_t num = 1; num <= 3000; ++num)
        for (int32_t den : {1, 2, 3, 4, 6, 7, 9, 100, 1000, 1001, 999999, 2147483647}) {
            const QuicktimeTimeBase b = QuicktimeMVHD::getTimeBase({num, den});
            ASSERT_TRUE(b.timeScale >= 1 && b.timeScale <= INT32_MAX && b.sampleDuration >= 1 &&
                        b.sampleDuration <= INT32_MAX)
                << num << "/" << den;
            ASSERT_EQ(b.timeScale * den, b.sampleDuration * num) << num << "/" << den;
        }
}

TEST(WriterTimes, DurationsAreComputedInSinglePrecision) {
    {
        // 21 x 24 = 504 units at 600; the track header says 503.
        TempMovie temp;
        ASSERT_EQ(writeVideoMovie(temp.path, std::vector<size_t>(21, 4), {25, 1}), 0);
        Bytes f = readFile(temp.path);
        EXPECT_EQ(be(f, find(f, "moov/trak/mdia/mdhd").start + 24, 4), 504u);
        EXPECT_EQ(be(f, find(f, "moov/trak/tkhd").start + 28, 4), 503u);
        EXPECT_EQ(be(f, find(f, "moov/trak/edts/elst").start + 16, 4), 503u);
        EXPECT_EQ(be(f, find(f, "moov/mvhd").start + 24, 4), 503u);
    }
    {
        // One frame of 1001 at 30000 comes out as 1000.
        TempMovie temp;
        ASSERT_EQ(writeVideoMovie(temp.path, {4}, {30000, 1001}), 0);
        Bytes f = readFile(temp.path);
        EXPECT_EQ(be(f, find(f, "moov/trak/mdia/mdhd").start + 24, 4), 1001u);
        EXPECT_EQ(be(f, find(f, "moov/trak/tkhd").start + 28, 4), 1000u);
    }
}

TEST(WriterTables, AudioBlocksMergeIntoRuns) {
    TempMovie temp;
    MovFile movie;
    ASSERT_NE(movie.openWrite(temp.path.c_str(), nullptr, 0, 0, {}, 0, 1, 48000, 2, 16), nullptr);
    for (int samples : {1024, 1024, 512})
        writeBlock(movie, samples, 4, static_cast<uint32_t>(samples));
    ASSERT_EQ(movie.close(), 0);
    Bytes f = readFile(temp.path);

    // Two runs (first chunk, samples per chunk, description): 1024 from
    // chunk 1 on, 512 from chunk 3 on.
    EXPECT_EQ(fields(f, find(f, kStbl + "stsc"), 12, 4, 7), (Fields{2, 1, 1024, 1, 3, 512, 1}));
    // Sample size 1 for 2560 samples.
    EXPECT_EQ(fields(f, find(f, kStbl + "stsz"), 12, 4, 2), (Fields{1, 2560}));
    EXPECT_EQ(firstTimeToSample(f), std::make_pair(uint64_t{2560}, uint64_t{1}));
    EXPECT_EQ(chunkOffsets(f, find(f, kStbl + "co64")), (Fields{16, 16 + 4096, 16 + 8192}));
    // Time scale and duration.
    EXPECT_EQ(fields(f, find(f, "moov/trak/mdia/mdhd"), 20, 4, 2), (Fields{48000, 2560}));
    EXPECT_EQ(be(f, find(f, "moov/trak/tkhd").start + 28, 4), 32u); // 2560 / 48000 s at 600
}

TEST(WriterTables, RunsReturningToAnEarlierSizeStaySeparate) {
    TempMovie temp;
    MovFile movie;
    ASSERT_NE(movie.openWrite(temp.path.c_str(), nullptr, 0, 0, {}, 0, 1, 8000, 1, 8), nullptr);
    for (int samples : {100, 100, 50, 50, 100})
        writeBlock(movie, samples, 1, 7);
    ASSERT_EQ(movie.close(), 0);
    Bytes f = readFile(temp.path);
    Span stsc = find(f, kStbl + "stsc");
    ASSERT_EQ(be(f, stsc.start + 12, 4), 3u);
    EXPECT_EQ(be(f, stsc.start + 16, 8), (1ull << 32) | 100);
    EXPECT_EQ(be(f, stsc.start + 28, 8), (3ull << 32) | 50);
    EXPECT_EQ(be(f, stsc.start + 40, 8), (5ull << 32) | 100);
    EXPECT_EQ(be(f, find(f, kStbl + "stsz").start + 16, 4), 400u);
}

TEST(WriterTables, MovieClosedWithoutFrames) {
    TempMovie temp;
    ASSERT_EQ(writeVideoMovie(temp.path, {}, {25, 1}), 0);
    Bytes f = readFile(temp.path);
    EXPECT_EQ(be(f, 8, 8), 16u);
    EXPECT_EQ(find(f, "moov").start, 16u);
    EXPECT_EQ(be(f, find(f, kStbl + "co64").start + 12, 4), 0u);
    EXPECT_EQ(fields(f, find(f, kStbl + "stsz"), 12, 4, 2), (Fields{1, 0}));
    EXPECT_EQ(fields(f, find(f, kStbl + "stsc"), 12, 4, 4), (Fields{1, 1, 1, 1}));
    EXPECT_EQ(firstTimeToSample(f), std::make_pair(uint64_t{0}, uint64_t{24}));
    EXPECT_EQ(be(f, find(f, "moov/mvhd").start + 24, 4), 0u);
    EXPECT_EQ(be(f, find(f, "moov/trak/tkhd").start + 28, 4), 0u);

    MovFile reader;
    ASSERT_NE(reader.openRead(temp.path.c_str()), nullptr);
    EXPECT_EQ(reader.nFrames(), 0);
    reader.close();
}

TEST(WriterTables, TablesGrowPastTheFirstRoom) {
    const int frames = 16385;
    TempMovie temp;
    std::vector<size_t> sizes(frames);
    for (int i = 0; i < frames; i++)
        sizes[i] = 1 + i % 7;
    ASSERT_EQ(writeVideoMovie(temp.path, sizes, {25, 1}), 0);
    Bytes f = readFile(temp.path);

    Span stsz = find(f, kStbl + "stsz");
    Span co64 = find(f, kStbl + "co64");
    ASSERT_EQ(stsz.size, 20u + 4 * frames);
    ASSERT_EQ(co64.size, 16u + 8 * frames);
    EXPECT_EQ(be(f, stsz.start + 16, 4), static_cast<uint64_t>(frames));
    EXPECT_EQ(be(f, co64.start + 12, 4), static_cast<uint64_t>(frames));
    uint64_t offset = 16;
    int wrong = 0;
    for (int i = 0; i < frames; i++) {
        wrong += be(f, stsz.start + 20 + 4 * i, 4) != sizes[i];
        wrong += be(f, co64.start + 16 + 8 * i, 8) != offset;
        offset += sizes[i];
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(be(f, 8, 8), offset);
    Span stsc = find(f, kStbl + "stsc");
    EXPECT_EQ(be(f, stsc.start + 12, 4), 1u);
    EXPECT_EQ(firstTimeToSample(f).first, static_cast<uint64_t>(frames));

    MovFile reader;
    ASSERT_NE(reader.openRead(temp.path.c_str()), nullptr);
    EXPECT_EQ(reader.nFrames(), frames);
    EXPECT_EQ(reader.frameOffset(frames - 1), static_cast<long long>(offset - sizes.back()));
    reader.close();
}

// A 16 x 16 ZUVM movie at 25 fps being written, with 8 kHz mono 8-bit sound
// when asked; closed and read back by each test.
class WriterUndo : public ::testing::Test {
protected:
    void open(bool withSound = false) {
        char compressor[] = "ZUVM";
        ASSERT_NE(movie.openWrite(temp.path.c_str(), compressor, 16, 16, {25, 1}, 1,
                                  withSound ? 1 : 0, withSound ? 8000 : 0, withSound ? 1 : 0,
                                  withSound ? 8 : 0),
                  nullptr);
    }
    // Opens the closed movie with the reader; frames and sound samples.
    std::pair<int, int> readBack() {
        MovFile reader;
        if (!reader.openRead(temp.path.c_str()))
            return {-1, -1};
        std::pair<int, int> counts = {reader.nFrames(), 0};
        if (reader.audioTracks() > 0)
            counts.second = static_cast<int>(reader.audioTrackNumberOfSamples(0));
        reader.close();
        return counts;
    }
    TempMovie temp;
    MovFile movie;
};

TEST_F(WriterUndo, TakenBackFrameIsReplacedInPlace) {
    open();
    Bytes a = pattern(100, 1), b = pattern(200, 2), c = pattern(50, 3), d = pattern(300, 4);
    ASSERT_EQ(movie.writeFrame(0, 100, a.data()), 0);
    ASSERT_EQ(movie.writeFrame(0, 200, b.data()), 0);
    ASSERT_EQ(movie.undoWriteFrame(), 0);
    EXPECT_NE(movie.undoWriteFrame(), 0); // only the frame written last
    LargeFp* fp = movie.prepareToWriteFrame(0);
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(ftell_L(fp), 116);
    fwrite_L(c.data(), c.size(), 1, fp);
    ASSERT_EQ(movie.endWriteFrame(), 0);
    ASSERT_EQ(movie.writeFrame(0, 300, d.data()), 0);
    ASSERT_EQ(movie.close(), 0);

    Bytes f = readFile(temp.path);
    EXPECT_EQ(chunkOffsets(f, find(f, kStbl + "co64")), (Fields{16, 116, 166}));
    EXPECT_EQ(fields(f, find(f, kStbl + "stsz"), 20, 4, 3), (Fields{100, 50, 300}));
    EXPECT_EQ(be(f, 8, 8), 466u);
    EXPECT_EQ(firstTimeToSample(f).first, 3u);
}

TEST_F(WriterUndo, FrameTakenBackAtTheEndIsNotInTheMovie) {
    open();
    Bytes a = pattern(100, 1), big = pattern(5000, 2);
    ASSERT_EQ(movie.writeFrame(0, 100, a.data()), 0);
    ASSERT_EQ(movie.writeFrame(0, 5000, big.data()), 0);
    ASSERT_EQ(movie.undoWriteFrame(), 0);
    ASSERT_EQ(movie.close(), 0);

    // The moov sits where the taken-back frame began and ends the file:
    // none of that frame's bytes remain to be read as atoms.
    Bytes f = readFile(temp.path);
    EXPECT_EQ(be(f, 8, 8), 116u);
    EXPECT_EQ(find(f, "moov").end(), f.size());
    EXPECT_EQ(readFrames(temp.path), std::vector<Bytes>{a});
}

TEST_F(WriterUndo, NothingToTakeBack) {
    EXPECT_NE(movie.undoWriteFrame(), 0); // no file at all
    open(true);
    EXPECT_NE(movie.undoWriteFrame(), 0);
    EXPECT_EQ(movie.file->videoMaps[0].currentChunk, 1);
    EXPECT_EQ(movie.file->videoMaps[0].currentPosition, 0);

    // After an audio block the frame before it stays, and so does the audio.
    Bytes a = pattern(100, 1);
    ASSERT_EQ(movie.writeFrame(0, 100, a.data()), 0);
    writeBlock(movie, 10, 1, 5);
    EXPECT_NE(movie.undoWriteFrame(), 0);
    // An audio block begun and not ended is not cut either.
    ASSERT_NE(movie.prepareToWriteAudioSample(), nullptr);
    EXPECT_NE(movie.undoWriteFrame(), 0);
    ASSERT_EQ(movie.endWriteAudioSample(0), 0);
    ASSERT_EQ(movie.close(), 0);
    EXPECT_EQ(readBack(), std::make_pair(1, 10));
}

TEST_F(WriterUndo, FrameBegunAndNotEndedIsDropped) {
    open();
    Bytes a = pattern(100, 1), b = pattern(70, 2);
    ASSERT_EQ(movie.writeFrame(0, 100, a.data()), 0);
    LargeFp* fp = movie.prepareToWriteFrame(0);
    fwrite_L(a.data(), 40, 1, fp);
    ASSERT_EQ(movie.undoWriteFrame(), 0);
    ASSERT_EQ(movie.writeFrame(0, 70, b.data()), 0);
    ASSERT_EQ(movie.close(), 0);
    Bytes f = readFile(temp.path);
    EXPECT_EQ(chunkOffsets(f, find(f, kStbl + "co64")), (Fields{16, 116}));
    EXPECT_EQ(Bytes(f.begin() + 116, f.begin() + 186), b);
}
