// Which frame a host gets for a time: at rates whose frames last no whole
// number of ticks, and with several movies open in one host.
#include <cstdlib>
#include <cstring>

#include "ImporterDriver.h"
#include "codec/FramePayload.h"

namespace keoimp {
namespace {

using keo::host::kTicksPerSecond;

class WhichFrameTest : public ImporterTest {
protected:
    // Movie frames of distinct pictures: seeds from `first` on.
    static MovieRecipe Frames(int count, int first = 0) {
        MovieRecipe recipe;
        for (int i = 0; i < count; i++)
            recipe.frames.push_back(keotest::dxt1Frame(static_cast<uint8_t>(first + i)));
        return recipe;
    }

    // What the frame decodes to, packed and top row first as readFrame gives it.
    static Bytes Picture(const Bytes& sample) {
        unsigned char* argb = nullptr;
        EXPECT_EQ(
            DecodeFramePayload(sample.data(), static_cast<unsigned>(sample.size()), 8, 8, &argb),
            0);
        Bytes picture(argb, argb + 8 * 8 * 4);
        std::free(argb);
        return picture;
    }

    static int32_t Read(keo::host::ImporterSession* s, PrTime time, Bytes* argb) {
        argb->assign(8 * 8 * 4, 0);
        return keo::host::readFrame(s, time, argb->data());
    }
};

// A host starts frame i at i x ticks per second x sampleSize / scale and lands
// it on a tick by rounding down, up or to nearest; each rounding must find
// frame i, the last frame too, and the end of the movie none. Ticks per
// second here is 2^12 3^4 5^6 7^2, so 13, 19 and 73 frames per second (as keo
// writes them, in hundredths) and the other uneven rates do not divide it.
TEST_F(WhichFrameTest, EveryFrameAtEveryRateWhereverTheHostRoundsItsStart) {
    struct Case {
        uint32_t scale, duration;    // as stored
        int32_t toldScale, toldSize; // as the host is told
    } cases[] = {
        {1300, 100, 13, 1},
        {1900, 100, 19, 1},
        {7300, 100, 73, 1},
        {17, 1, 17, 1},
        {7, 3, 7, 3},
        {1000, 1001, 1000, 1001},       // just under one frame a second
        {12513, 1001, 12513, 1001},     // 12.5 as the writer stores it
        {48000, 1001, 48000, 1001},     // 47.95
        {2147483647, 1, 2147483647, 1}, // 118.3 ticks a frame
        {25, 2, 25, 2},                 // whole ticks, uneven rate
        {2997, 100, 30000, 1001},       // standard rates, whole ticks
        {90000, 3754, 24000, 1001},
        {60000, 1001, 60000, 1001},
        {600, 24, 25, 1},
    };
    const int kFrames = 24;
    MovieRecipe recipe = Frames(kFrames);
    std::vector<Bytes> pictures;
    for (const Bytes& sample : recipe.frames)
        pictures.push_back(Picture(sample));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.scale) + "/" + std::to_string(c.duration));
        recipe.timeScale = c.scale;
        recipe.duration = c.duration;
        ASSERT_EQ(open(BuildMovie(recipe).bytes()), 0);
        ASSERT_EQ(info(), 0);
        EXPECT_EQ(fileInfo.vidScale, c.toldScale);
        EXPECT_EQ(fileInfo.vidSampleSize, c.toldSize);
        EXPECT_EQ(fileInfo.vidDuration, kFrames * c.toldSize);
        // Frame i starts at i x perFrame / toldScale ticks.
        const __int128 perFrame = static_cast<__int128>(kTicksPerSecond) * c.toldSize;
        Bytes argb;
        for (int i = 0; i < kFrames; i++) {
            const __int128 start = perFrame * i;
            const PrTime down = static_cast<PrTime>(start / c.toldScale);
            const PrTime up = static_cast<PrTime>((start + c.toldScale - 1) / c.toldScale);
            const PrTime nearest =
                static_cast<PrTime>((2 * start + c.toldScale) / (2 * int64_t{c.toldScale}));
            for (PrTime t : {down, up, nearest}) {
                ASSERT_EQ(Read(&session, t, &argb), 0) << "frame " << i << " at " << t;
                ASSERT_TRUE(argb == pictures[i]) << "frame " << i << " at " << t;
            }
        }
        const PrTime end = static_cast<PrTime>(perFrame * kFrames / c.toldScale);
        EXPECT_EQ(Read(&session, end - 1, &argb), 0);
        EXPECT_TRUE(argb == pictures[kFrames - 1]);
        EXPECT_EQ(Read(&session, end, &argb), imFrameOrAudioErr);
        closeFile();
    }
}

// Two movies of one size open at once, as two clips of a timeline: the host's
// cache must never hand one clip's frame out for the other's.
TEST_F(WhichFrameTest, TwoMoviesOfOneSizeKeepTheirOwnFrames) {
    ASSERT_EQ(open(BuildMovie(Frames(2, 0)).bytes()), 0);
    ASSERT_EQ(info(), 0);
    files.push_back(std::make_unique<keotest::TempFile>(BuildMovie(Frames(2, 10)).bytes()));
    keo::host::ImporterSession other;
    keo::host::bindImporter(&other, entry, host);
    ASSERT_EQ(keo::host::openFile(&other, files.back()->path), 0);
    ASSERT_EQ(keo::host::describeFile(&other), 0);

    Bytes first, second;
    ASSERT_EQ(Read(&session, 0, &first), 0);
    ASSERT_EQ(Read(&other, 0, &second), 0);
    EXPECT_TRUE(first == Picture(keotest::dxt1Frame(0)));
    EXPECT_TRUE(second == Picture(keotest::dxt1Frame(10)));
    // Both now come from the cache, each still its own.
    ASSERT_EQ(Read(&session, 0, &first), 0);
    EXPECT_TRUE(first == Picture(keotest::dxt1Frame(0)));
    EXPECT_EQ(keo::host::counters(host).cacheHits, 1);
    EXPECT_EQ(keo::host::closeFile(&other), 0);
}

// A host that opens, reads and closes files all day keeps what it holds flat:
// closed clips leave the cache, and its log of suite calls keeps only the
// latest.
TEST_F(WhichFrameTest, AHostStaysFlatOverManyOpens) {
    Bytes movie = BuildMovie(Frames(3)).bytes();
    Bytes argb;
    for (int round = 0; round < 200; round++) {
        ASSERT_EQ(open(movie), 0);
        ASSERT_EQ(info(), 0);
        ASSERT_EQ(Read(&session, 0, &argb), 0);
        closeFile();
        files.clear();
    }
    keo::host::HostCounters c = keo::host::counters(host);
    EXPECT_EQ(c.cacheEntries, 0);
    EXPECT_EQ(c.framesLive, 0);
    EXPECT_EQ(c.handlesLive, 0);
    EXPECT_EQ(keo::host::suiteCalls(host).size(), keo::host::kSuiteCallsKept);
}

} // namespace
} // namespace keoimp
