// The sound spool that keo export --input and keomux keep their sound in:
// blocks land where their timestamps say (jitter within 40 ms follows on, a
// gap becomes silence, an overlap is dropped, and the two last are reported)
// and come back against the movie's time 0 (later sound after silence,
// earlier sound without its lead). At 1000 Hz a frame is 1 ms.
#include "base/SoundSpool.h"

#include <gtest/gtest.h>
#include <vector>

using namespace keo;

namespace {

constexpr int64_t kMs = 1000000;

// Block `b` of 100 frames holds b * 1000 + i + 1 at frame i, so every frame
// read back names its block and place; 0 is silence.
std::vector<float> block(int b) {
    std::vector<float> v(100);
    for (int i = 0; i < 100; ++i)
        v[i] = static_cast<float>(b * 1000 + i + 1);
    return v;
}

std::vector<float> readBack(const SoundSpool& spool, int64_t zeroNs, int64_t first, int64_t n) {
    std::vector<float> out(static_cast<size_t>(n), -1.0f);
    EXPECT_TRUE(spool.read(zeroNs, first, n, out.data()));
    return out;
}

struct Case {
    const char* what;
    int64_t secondBlockAtMs; // the first block is at 1000 ms
    int64_t zeroMs;          // the movie's time 0
    int64_t silence, skip;   // what the second block's placement reports
    // What frame `at` of the movie holds: a value of block(b), or silence.
    std::vector<std::pair<int64_t, float>> expect;
};

TEST(SoundSpool, BlocksKeepTheirPlacesAgainstTheMoviesTimeZero) {
    const Case cases[] = {
        {"jitter of 30 ms follows on",
         1130,
         1000,
         0,
         0,
         {{0, 1001}, {99, 1100}, {100, 2001}, {199, 2100}}},
        {"a 50 ms gap is silence",
         1150,
         1000,
         50,
         0,
         {{99, 1100}, {100, 0}, {149, 0}, {150, 2001}}},
        {"a 60 ms overlap is dropped",
         1040,
         1000,
         0,
         60,
         {{99, 1100}, {100, 2061}, {139, 2100}, {140, 0}}},
        {"sound 20 ms after time 0 starts after silence", 1100, 980, 0, 0, {{19, 0}, {20, 1001}}},
        {"sound before time 0 loses its lead",
         1100,
         1030,
         0,
         0,
         {{0, 1031}, {69, 1100}, {70, 2001}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SoundSpool spool;
        ASSERT_EQ(spool.open(sizeof(float), 1000), 0);
        EXPECT_FALSE(spool.put(1000 * kMs, block(1).data(), 100).strayed());
        const SoundPlacement p = spool.put(c.secondBlockAtMs * kMs, block(2).data(), 100);
        EXPECT_EQ(p.silence, c.silence);
        EXPECT_EQ(p.skip, c.skip);
        const std::vector<float> got = readBack(spool, c.zeroMs * kMs, 0, 400);
        for (const auto& [at, value] : c.expect)
            EXPECT_EQ(got[at], value) << "frame " << at;
        EXPECT_EQ(got[399], 0.0f) << "past the end is silence";
    }
}

TEST(SoundSpool, StereoReadsFromAnyFirstFrameAndUnknownTimesFollowOn) {
    SoundSpool spool;
    ASSERT_EQ(spool.open(2 * sizeof(float), 1000), 0);
    std::vector<float> a{1, -1, 2, -2, 3, -3};
    spool.put(-1, a.data(), 3);
    spool.put(-1, a.data(), 3);
    EXPECT_EQ(spool.endNs(), 6 * kMs);
    std::vector<float> got(8);
    ASSERT_TRUE(spool.read(0, 2, 4, got.data()));
    EXPECT_EQ(got, (std::vector<float>{3, -3, 1, -1, 2, -2, 3, -3}));
    EXPECT_EQ(spool.error(), 0);
}

} // namespace
