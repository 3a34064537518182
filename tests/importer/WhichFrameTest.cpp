// Which frame a host gets for a time: at rates whose frames last no whole
// number of ticks, and with two movies of one size open in one host.
#include <cstdlib>
#include <random>

#include "ImporterDriver.h"
#include "codec/FramePayload.h"
#include "support/HostPlacements.h"

namespace keoimp {
namespace {

class WhichFrameTest : public ImporterTest {};

// Frames of distinct 8 x 8 pictures, from seed `first` on.
MovieRecipe Frames(int count, int first = 0) {
    MovieRecipe recipe;
    for (int i = 0; i < count; i++)
        recipe.frames.push_back(keotest::dxt1Frame(static_cast<uint8_t>(first + i)));
    return recipe;
}

// What a frame decodes to, packed and top row first as FrameAt gives it.
Bytes Picture(const Bytes& sample) {
    unsigned char* argb = nullptr;
    EXPECT_EQ(DecodeFramePayload(sample.data(), static_cast<unsigned>(sample.size()), 8, 8, &argb),
              0);
    Bytes picture(argb, argb + 8 * 8 * 4);
    std::free(argb);
    return picture;
}

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
        {12513, 1001, 12513, 1001},     // 12.5 as earlier writers stored it
        {600, 48, 25, 2},               // 12.5 as the writer stores it now
        {600, 72, 25, 3},               // 25/3
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
        const __int128 perFrame = static_cast<__int128>(keo::host::kTicksPerSecond) * c.toldSize;
        const int64_t scale = c.toldScale;
        Bytes argb;
        for (int i = 0; i < kFrames; i++) {
            const __int128 start = perFrame * i;
            const __int128 down = start / scale, up = (start + scale - 1) / scale,
                           nearest = (2 * start + scale) / (2 * scale);
            for (__int128 t : {down, up, nearest}) {
                ASSERT_EQ(FrameAt(&session, static_cast<PrTime>(t), &argb), 0) << "frame " << i;
                ASSERT_TRUE(argb == Picture(recipe.frames[i])) << "frame " << i;
            }
        }
        const PrTime end = static_cast<PrTime>(perFrame * kFrames / scale);
        EXPECT_EQ(FrameAt(&session, end - 1, &argb), 0);
        EXPECT_TRUE(argb == Picture(recipe.frames[kFrames - 1]));
        EXPECT_EQ(FrameAt(&session, end, &argb), imFrameOrAudioErr);
        closeFile();
    }
}

// The same through the importer, as the stand-in host drives it: movies of
// 24 frames at 2000 rates, those of the lost frames (11 to 44 frames a
// second as keo writes them, in hundredths, and 12.5 as earlier writers
// stored it) and then drawn at random, every other one from the rates whose
// ticks per frame round down. Each frame is asked for at every time a host
// may mean it (support/HostPlacements.h), from the rate the host is told
// alone; the movie's end, rounded down to a tick, is no frame, and every
// tick before it at least the last.
TEST_F(WhichFrameTest, EveryHostPlacementOfEveryFrameAtThousandsOfRates) {
    using namespace keotest;
    const int kFrames = 24;
    MovieRecipe recipe = Frames(kFrames);
    std::vector<Bytes> pictures;
    for (const Bytes& frame : recipe.frames)
        pictures.push_back(Picture(frame));
    std::vector<keo::FrameRate> stored = {{1100, 100}, {1700, 100}, {2200, 100},
                                          {2300, 100}, {3100, 100}, {3300, 100},
                                          {3700, 100}, {4400, 100}, {12513, 1001}};
    std::mt19937_64 rng(7);
    while (stored.size() < 2000) {
        const keo::FrameRate r{draw(rng, 31), draw(rng, 31)};
        const Clock c{keo::reduced(r), keo::host::kTicksPerSecond};
        // Standard rates reach the host as their canonical pairs, and a
        // duration must fit the host's 32 bits and its end a 64-bit time.
        if (usable(c) && (stored.size() % 2 == 0 || roundsDown(c)) &&
            keo::standardRateCode(r.num, r.den) == 0 && c.rate.den <= INT32_MAX / kFrames &&
            beginningOf(c, kFrames + 1) <= INT64_MAX)
            stored.push_back(r);
    }
    int failures = 0;
    Bytes argb;
    // Whether the host gets frame i at tick t.
    auto gets = [&](i128 t, i128 i) {
        return FrameAt(&session, static_cast<PrTime>(t), &argb) == 0 &&
               argb == pictures[static_cast<size_t>(i)];
    };
    for (const keo::FrameRate& r : stored) {
        recipe.timeScale = static_cast<uint32_t>(r.num);
        recipe.duration = static_cast<uint32_t>(r.den);
        ASSERT_EQ(open(BuildMovie(recipe).bytes()), 0);
        ASSERT_EQ(info(), 0);
        const Clock c{{fileInfo.vidScale, fileInfo.vidSampleSize}, keo::host::kTicksPerSecond};
        ASSERT_TRUE(keo::sameRate(c.rate, r)) << describe(c);
        for (int i = 0; i < kFrames; i++)
            for (const auto& [time, frame] : placements(c, i))
                if (!gets(time, frame) && ++failures <= 10)
                    ADD_FAILURE() << describe(c) << ": tick " << int64_t(time) << " is frame " << i;
        const i128 end = floorDiv(kFrames * c.p(), c.rate.num);
        EXPECT_EQ(FrameAt(&session, PrTime(end), &argb), imFrameOrAudioErr) << describe(c);
        for (i128 t = beginningOf(c, kFrames); t < end; t++)
            EXPECT_TRUE(gets(t, kFrames - 1)) << describe(c) << ": tick " << int64_t(t);
        closeFile();
        keo::host::clearFrameCache(host);
    }
    EXPECT_EQ(failures, 0);
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
    ASSERT_EQ(FrameAt(&session, 0, &first), 0);
    ASSERT_EQ(FrameAt(&other, 0, &second), 0);
    EXPECT_TRUE(first == Picture(keotest::dxt1Frame(0)));
    EXPECT_TRUE(second == Picture(keotest::dxt1Frame(10)));
    // Both now come from the cache, each still its own.
    ASSERT_EQ(FrameAt(&session, 0, &first), 0);
    ASSERT_EQ(FrameAt(&other, 0, &second), 0);
    EXPECT_TRUE(first == Picture(keotest::dxt1Frame(0)));
    EXPECT_TRUE(second == Picture(keotest::dxt1Frame(10)));
    EXPECT_EQ(keo::host::counters(host).cacheHits, 2);
    EXPECT_EQ(keo::host::closeFile(&other), 0);
}

} // namespace
} // namespace keoimp
