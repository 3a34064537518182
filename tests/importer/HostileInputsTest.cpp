// Hostile movies and host requests through the entry: every call returns a
// clear answer, nothing is read or written out of bounds, nothing leaks.
#include <cstdio>
#include <cstring>

#include "ImporterDriver.h"

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
    // Every frame of the baseline's two: the answers in order.
    std::vector<int32_t> frameAnswers(int n) {
        std::vector<int32_t> out;
        for (int i = 0; i < n; i++)
            out.push_back(sourceVideo(ticksOf(PrVideoFrameRate_25) * i, nullptr));
        return out;
    }
};

TEST_F(ImporterHostileTest, H8UnfinishedWriterIsNoVideo) {
    Bytes b;
    keotest::put32(b, 1);
    keotest::putType(b, "mdat");
    keotest::put64(b, 0);
    keotest::append(b, keotest::dxt1Frame(0));
    keotest::append(b, keotest::dxt1Frame(1));
    EXPECT_EQ(openAndDescribe(b), imBadFile);
}

TEST_F(ImporterHostileTest, T8ZeroFrameDurationIsRefusedNeverDividedBy) {
    keotest::Movie m = baseline();
    m.find("trak/mdia/minf/stbl/stts")->data = keotest::sttsBody({{2, 0}});
    EXPECT_EQ(openAndDescribe(m.bytes()), imBadFile);
    EXPECT_EQ(sourceVideo(0, nullptr), imFrameOrAudioErr);
    closeFile();

    keotest::Movie control = baseline();
    control.find("trak/mdia/minf/stbl/stts")->data = keotest::sttsBody({{1, 24}, {1, 0}});
    ASSERT_EQ(openAndDescribe(control.bytes()), 0);
    EXPECT_EQ(frameAnswers(2), (std::vector<int32_t>{0, 0}));
}

TEST_F(ImporterHostileTest, T9ZeroTimeScale) {
    keotest::Movie m = baseline();
    m.find("trak/mdia/mdhd")->data = keotest::mdhdBody(0);
    EXPECT_EQ(openAndDescribe(m.bytes()), imBadFile);
    closeFile();

    keotest::Movie control = baseline();
    control.find("mvhd")->data = keotest::mvhdBody(0);
    ASSERT_EQ(openAndDescribe(control.bytes()), 0);
    EXPECT_EQ(frameAnswers(2), (std::vector<int32_t>{0, 0}));
}

TEST_F(ImporterHostileTest, ZeroDimensionsAreRefusedAtOpen) {
    for (auto size : {std::pair<double, double>{0, 0}, {8, 0}}) {
        keotest::Movie m = baseline();
        m.find("trak/tkhd")->data = keotest::tkhdBody(size.first, size.second);
        EXPECT_EQ(open(m.bytes()), imBadFile);
        closeFile();
    }
}

TEST_F(ImporterHostileTest, HugeDimensionsAreRefusedBeforeAnyAllocation) {
    for (bool dxt24 : {false, true}) {
        keotest::Movie m = baseline();
        m.find("trak/tkhd")->data = keotest::tkhdBody(65535.99, 65535.99);
        if (dxt24) {
            // Same frames, but DXT24 headers.
            Bytes& data = m.mdat().data;
            data[26] = 1;
            data[60 + 26] = 1;
        }
        EXPECT_EQ(open(m.bytes()), imBadFile);
        EXPECT_EQ(info(), imBadFile);
        EXPECT_EQ(frameAnswers(2), (std::vector<int32_t>{99, 99}));
        EXPECT_EQ(keo::host::counters(host).framesCreated, 0);
        closeFile();
    }
}

TEST_F(ImporterHostileTest, P1HeaderValuesThroughAMovie) {
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

TEST_F(ImporterHostileTest, S1AudioFormatFieldsAnswerZeroAndWriteNothing) {
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

TEST_F(ImporterHostileTest, S2AudioWithEmptyChunksReturns) {
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

TEST_F(ImporterHostileTest, S3AudioPositions) {
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

TEST_F(ImporterHostileTest, X1FrameIndexRangeIsNotCached) {
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

TEST_F(ImporterHostileTest, X2FrameSizeOrFormatMismatchWritesNothing) {
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

TEST_F(ImporterHostileTest, SampleOutsideTheFileIsNotAllocated) {
    // T4: the second sample claims to reach past the end of the file.
    for (uint32_t size : {0x80000000u, 1060u}) {
        keotest::Movie m = baseline();
        m.find("trak/mdia/minf/stbl/stsz")->data = keotest::stszBody(0, 2, {60, size});
        int32_t r = openAndDescribe(m.bytes());
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
    std::vector<Movie> movies;
    Movie t1stts = baseline();
    set(t1stts, "stts", keotest::sttsBody({{2, 24}}, 0xFFFFFFFFu));
    movies.push_back(t1stts);
    Movie t1stsz = baseline();
    set(t1stsz, "stsz", keotest::stszBody(0, 0xFFFFFFFFu, {}));
    movies.push_back(t1stsz);
    Movie t2stsc = baseline();
    set(t2stsc, "stsc", keotest::stscBody({{1, 1, 1}}, 0x15555556u));
    movies.push_back(t2stsc);
    Movie t2co64 = baseline();
    set(t2co64, "co64", keotest::co64Body({16, 76}, 0x40000002u));
    movies.push_back(t2co64);
    Movie d1 = baseline();
    *d1.find(std::string(stbl) + "stsd") =
        keotest::stsdAtom({keotest::videoEntry("ZUVM")}, 0xFFFFFFFFu);
    movies.push_back(d1);
    for (size_t i = 0; i < movies.size(); i++) {
        EXPECT_EQ(openAndDescribe(movies[i].bytes()), imBadFile) << "case " << i;
        closeFile();
    }
}

TEST_F(ImporterHostileTest, H3TruncationSweep) {
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
