// Hostile movies and host requests through the entry: every call returns a
// clear answer, nothing is read or written out of bounds, nothing leaks.
#include <cstdio>
#include <cstring>

#include "ImporterDriver.h"
#include "support/HostileCases.h"

namespace keoimp {
namespace {

using keotest::atom;
using keotest::Bytes;

class ImporterHostileTest : public ImporterTest {
protected:
    keotest::Movie baseline(bool audio = false) { return keotest::baselineMovie(audio); }
    // Opens and describes; returns 0 when both succeed.
    int32_t openAndDescribe(const Bytes& movie) {
        int32_t r = open(movie);
        return r != 0 ? r : info();
    }
    int32_t openAndDescribe(const std::string& hostileId) {
        return openAndDescribe(keofaults::hostileCase(hostileId).bytes);
    }
    // Every frame of the baseline's two: the answers in order.
    std::vector<int32_t> frameAnswers(int n) {
        std::vector<int32_t> out;
        for (int i = 0; i < n; i++)
            out.push_back(sourceVideo(ticksOf(PrVideoFrameRate_25) * i, nullptr));
        return out;
    }
};

// What a writer that stopped mid-file leaves (an mdat of size 0, no moov)
// holds no video a host could be told about.
TEST_F(ImporterHostileTest, UnfinishedWriterIsNoVideo) {
    EXPECT_EQ(openAndDescribe("unfinished-writer"), imBadFile);
}

// Frames that last 0 give no rate: refused, and never divided by. A last
// frame of 0 leaves the rate of the first entry.
TEST_F(ImporterHostileTest, ZeroFrameDurationIsRefusedNeverDividedBy) {
    EXPECT_EQ(openAndDescribe("stts-duration-0"), imBadFile);
    EXPECT_EQ(sourceVideo(0, nullptr), imFrameOrAudioErr);
    closeFile();

    ASSERT_EQ(openAndDescribe("stts-last-duration-0"), 0);
    EXPECT_EQ(frameAnswers(2), (std::vector<int32_t>{0, 0}));
}

// The track's time scale of 0 is refused; the movie's alone is not needed.
TEST_F(ImporterHostileTest, ZeroTimeScale) {
    EXPECT_EQ(openAndDescribe("mdhd-time-scale-0"), imBadFile);
    closeFile();

    ASSERT_EQ(openAndDescribe("mvhd-time-scale-0"), 0);
    EXPECT_EQ(frameAnswers(2), (std::vector<int32_t>{0, 0}));
}

TEST_F(ImporterHostileTest, ZeroDimensionsAreRefusedAtOpen) {
    for (const char* id : {"track-size-0x0", "track-size-8x0"}) {
        EXPECT_EQ(open(keofaults::hostileCase(id).bytes), imBadFile) << id;
        closeFile();
    }
}

// A frame of the largest size a track can state would not fit in memory: the
// host is told nothing it could plan a buffer for, and no frame is made.
TEST_F(ImporterHostileTest, HugeDimensionsAreRefusedBeforeAnyAllocation) {
    for (const char* id : {"track-size-largest", "track-size-largest-dxt24"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(open(keofaults::hostileCase(id).bytes), imBadFile);
        EXPECT_EQ(info(), imBadFile);
        EXPECT_EQ(frameAnswers(2), (std::vector<int32_t>{99, 99}));
        EXPECT_EQ(keo::host::counters(host).framesCreated, 0);
        closeFile();
    }
}

// Frame headers with wrong lengths, versions, header sizes and flag values,
// one per frame of a movie: each frame answers alone, and the ones that
// fail are not cached.
TEST_F(ImporterHostileTest, FrameHeaderValuesThroughAMovie) {
    Bytes good = keotest::dxt1Frame(5);
    std::vector<Bytes> frames(10, good);
    frames[0].resize(28);
    frames[1].resize(29);
    frames[2][4] = 2; // formatVersion
    frames[3][4] = 0;
    frames[4][0] = 29; // headerSize
    frames[5][0] = 0;
    frames[6][0] = 20;
    frames[7][6] = 2;  // isLZF
    frames[8][26] = 2; // isDXT24
    frames[9][5] = 2;  // hasAlpha
    MovieRecipe recipe;
    recipe.frames = frames;
    ASSERT_EQ(openAndDescribe(BuildMovie(recipe).bytes()), 0);
    EXPECT_EQ(frameAnswers(10), (std::vector<int32_t>{99, 0, 99, 0, 99, 0, 0, 99, 99, 0}));
    // Failed frames are neither cached nor left with the caller.
    EXPECT_EQ(keo::host::counters(host).cacheEntries, 5);
    EXPECT_EQ(keo::host::counters(host).framesLive, 5);
}

// Sound descriptions of channel counts and sample widths the importer does
// not play.
TEST_F(ImporterHostileTest, AudioFormatFieldsAnswerZeroAndWriteNothing) {
    struct Format {
        uint16_t channels, bits;
    } formats[] = {{1, 12}, {1, 4}, {0, 16}, {65535, 65535}};
    for (Format f : formats) {
        SCOPED_TRACE(std::to_string(f.channels) + " ch " + std::to_string(f.bits) + " bit");
        keotest::Movie m = baseline(true);
        *m.find("trak#1/mdia/minf/stbl/stsd") =
            keotest::stsdAtom({keotest::soundEntry("twos", f.channels, f.bits, 44100)});
        int32_t r = openAndDescribe(m.bytes());
        if (r != 0) {
            EXPECT_EQ(r, imBadFile);
            closeFile();
            continue;
        }
        EXPECT_EQ(frameAnswers(2), (std::vector<int32_t>{0, 0}));
        std::vector<std::vector<float>> ch;
        EXPECT_EQ(audio(0, 200, &ch, 2), 0);
        for (auto& c : ch)
            for (float v : c)
                ASSERT_EQ(v, -7.0f);
        closeFile();
    }
}

// Sound tables that place no sample in any chunk (0 per chunk, or no stsc
// entry at all): an audio request returns instead of looping.
TEST_F(ImporterHostileTest, AudioWithEmptyChunksReturns) {
    for (int variant = 0; variant < 2; variant++) {
        keotest::Movie m = baseline(true);
        keotest::Atom* stsc = m.find("trak#1/mdia/minf/stbl/stsc");
        stsc->data = variant == 0 ? keotest::stscBody({{1, 0, 1}}) : keotest::stscBody({});
        if (openAndDescribe(m.bytes()) == 0) {
            std::vector<std::vector<float>> ch;
            int32_t r = audio(0, 200, &ch, 2);
            EXPECT_TRUE(r == 0 || r == imFrameOrAudioErr);
        }
        closeFile();
    }
}

// Audio requests at, past and continuing from the end of the sound, and one
// whose length runs far past it: only what exists is delivered.
TEST_F(ImporterHostileTest, AudioPositions) {
    ASSERT_EQ(openAndDescribe(baseline(true).bytes()), 0);
    std::vector<std::vector<float>> ch;
    std::vector<std::vector<float>> first;
    ASSERT_EQ(audio(0, 10, &first, 2), 0);
    ASSERT_EQ(info(), 0);
    EXPECT_EQ(audio(-1, 10, &ch, 2), 0);
    EXPECT_EQ(ch, first); // frames 0-9
    EXPECT_EQ(audio(200, 10, &ch, 2), 0);
    EXPECT_EQ(ch[0][0], -7.0f); // none
    EXPECT_EQ(audio(201, 1, &ch, 2), imFrameOrAudioErr);
    // audioPosition is now 200: continuing delivers nothing.
    EXPECT_EQ(audio(-1, 1, &ch, 2), 0);
    EXPECT_EQ(ch[0][0], -7.0f);
    // A size that would run far past the end gets all 200 frames; the host
    // buffers are sized by the request, so this one is kept small on the
    // host side: the plug-in only writes what it delivers.
    std::vector<float> left(200, -7.0f), right(200, -7.0f);
    float* buffers[2] = {left.data(), right.data()};
    imImportAudioRec7 rec{privateData, 0, 0xFFFFFFFFu, buffers};
    EXPECT_EQ(call(imImportAudio7, nullptr, &rec), 0);
    EXPECT_EQ(std::vector<float>(left.begin(), left.begin() + 10), first[0]);
    EXPECT_NE(left[199], -7.0f);
}

// Times before the first frame or after the last answer "no frame" without
// making or caching one.
TEST_F(ImporterHostileTest, FrameIndexRangeIsNotCached) {
    ASSERT_EQ(openAndDescribe(baseline().bytes()), 0);
    PrTime t = ticksOf(PrVideoFrameRate_25);
    PPixHand frame = reinterpret_cast<PPixHand>(1);
    imFrameFormat format{0, 0, PrPixelFormat_ARGB_4444_8u};
    EXPECT_EQ(sourceVideo(-t, &format, &frame), imFrameOrAudioErr);
    EXPECT_EQ(frame, nullptr);
    EXPECT_EQ(sourceVideo(2 * t, &format, &frame), imFrameOrAudioErr);
    EXPECT_EQ(keo::host::counters(host).cacheAdds, 0);
    EXPECT_EQ(keo::host::counters(host).framesCreated, 0);
    EXPECT_EQ(sourceVideo(t, &format, &frame), 0);
    EXPECT_NE(frame, nullptr);
}

TEST_F(ImporterHostileTest, FrameIndexIsCheckedBeforeItIsNarrowed) {
    // 600 frames per second keeps t x (2^32 + 1) inside 64 bits; narrowed
    // to 32 bits that index would be frame 1.
    MovieRecipe recipe;
    recipe.duration = 1;
    recipe.frames = {keotest::dxt1Frame(0), keotest::dxt1Frame(1)};
    ASSERT_EQ(openAndDescribe(BuildMovie(recipe).bytes()), 0);
    EXPECT_EQ(fileInfo.vidScale, 600);
    EXPECT_EQ(fileInfo.vidSampleSize, 1);
    PrTime t = keo::host::kTicksPerSecond / 600;
    EXPECT_EQ(sourceVideo(t * ((int64_t{1} << 32) + 1), nullptr), imFrameOrAudioErr);
    EXPECT_EQ(sourceVideo(t, nullptr), 0);
}

// A host asking for a size or pixel format the movie does not have gets a
// refusal, and no frame is made or cached.
TEST_F(ImporterHostileTest, FrameSizeOrFormatMismatchWritesNothing) {
    ASSERT_EQ(openAndDescribe(baseline().bytes()), 0);
    imFrameFormat formats[] = {{16, 16, PrPixelFormat_ARGB_4444_8u},
                               {4, 4, PrPixelFormat_ARGB_4444_8u},
                               {8, 0, PrPixelFormat_ARGB_4444_8u},
                               {8, 8, PrPixelFormat_VUYA_4444_32f},
                               {8, 8, PrPixelFormat_BGRA_4444_8u}};
    for (imFrameFormat& f : formats) {
        PPixHand frame = nullptr;
        EXPECT_EQ(sourceVideo(0, &f, &frame), imFrameOrAudioErr);
        EXPECT_EQ(frame, nullptr);
    }
    EXPECT_EQ(keo::host::counters(host).cacheAdds, 0);
    EXPECT_EQ(keo::host::counters(host).framesLive, 0);
}

TEST_F(ImporterHostileTest, FailedFrameIsRetriedNotServedFromTheCache) {
    // The host cannot give a frame once: the request fails, the next works.
    ASSERT_EQ(openAndDescribe(baseline().bytes()), 0);
    keo::host::setAllocationLimit(host, 0);
    EXPECT_EQ(sourceVideo(0, nullptr), imFrameOrAudioErr);
    keo::host::setAllocationLimit(host, -1);
    EXPECT_EQ(sourceVideo(0, nullptr), 0);

    // A frame that fails to decode, then is repaired on disk while the file
    // is quiet: the reopened file delivers it instead of a cached failure.
    keotest::Movie m = baseline();
    m.mdat().data[4] = 2; // formatVersion of frame 0
    closeFile();
    keo::host::clearFrameCache(host); // same importer id for the next file
    ASSERT_EQ(openAndDescribe(m.bytes()), 0);
    EXPECT_EQ(sourceVideo(0, nullptr), imFrameOrAudioErr);
    quiet();
    m.mdat().data[4] = 1;
    Bytes repaired = m.bytes();
    std::FILE* f = std::fopen(files.back()->path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(repaired.data(), 1, repaired.size(), f);
    std::fclose(f);
    ASSERT_EQ(open(files.back()->path), 0);
    ASSERT_EQ(info(), 0);
    int64_t hits = keo::host::counters(host).cacheHits;
    EXPECT_EQ(sourceVideo(0, nullptr), 0);
    EXPECT_EQ(keo::host::counters(host).cacheHits, hits);
}

// The second sample claims to reach past the end of the file: its size is
// never allocated, and the first frame still reads.
TEST_F(ImporterHostileTest, SampleOutsideTheFileIsNotAllocated) {
    for (const char* id : {"sample-size-2147483648", "sample-size-1060"}) {
        int32_t r = openAndDescribe(id);
        if (r == 0)
            EXPECT_EQ(frameAnswers(2), (std::vector<int32_t>{0, 99}));
        else
            EXPECT_EQ(r, imBadFile);
        closeFile();
    }
}

// Tables whose counts cannot be backed by their atoms: the file is refused
// (at open or at info) before anything is allocated from the count.
TEST_F(ImporterHostileTest, CountsThatCannotFitAreRefused) {
    using keotest::Movie;
    const char* stbl = "trak/mdia/minf/stbl/";
    auto set = [&](Movie& m, const char* leaf, Bytes body) {
        m.find(std::string(stbl) + leaf)->data = std::move(body);
    };
    std::vector<std::pair<std::string, Bytes>> movies;
    for (const char* id :
         {"stts-count-huge", "stsz-count-huge", "stsc-count-wraps", "stsd-count-huge"})
        movies.push_back({id, keofaults::hostileCase(id).bytes});
    // co64 entries are 8 bytes: 0x40000002 of them wrap 32 bits to 16.
    Movie co64 = baseline();
    set(co64, "co64", keotest::co64Body({16, 76}, 0x40000002u));
    movies.push_back({"co64 count 0x40000002", co64.bytes()});
    for (const auto& [what, bytes] : movies) {
        EXPECT_EQ(openAndDescribe(bytes), imBadFile) << what;
        closeFile();
    }
}

// Every seventh prefix of a movie with audio: each opens or is refused, and
// what opens answers every frame and audio request.
TEST_F(ImporterHostileTest, TruncationSweep) {
    Bytes full = baseline(true).bytes();
    for (size_t cut = 0; cut <= full.size(); cut += 7) {
        Bytes prefix(full.begin(), full.begin() + cut);
        if (openAndDescribe(prefix) == 0) {
            for (int32_t r : frameAnswers(2))
                EXPECT_TRUE(r == 0 || r == 99);
            std::vector<std::vector<float>> ch;
            int32_t r = audio(0, 200, &ch, 2);
            EXPECT_TRUE(r == 0 || r == 99);
        }
        closeFile();
        files.clear();
    }
}

} // namespace
} // namespace keoimp
