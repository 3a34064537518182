// Which frame a host gets with several movies open in one host.
#include <cstdlib>
#include <cstring>

#include "ImporterDriver.h"
#include "codec/FramePayload.h"

namespace keoimp {
namespace {

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
