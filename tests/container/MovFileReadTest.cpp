// The reader facade on whole movies: opening, frame queries, frame bytes.
#include <gtest/gtest.h>

#include "OpenedMovie.h"

using namespace keotest;

TEST(MovFileRead, BaselineOpensWithTwoFrames) {
    OpenedMovie m(baselineMovie());
    ASSERT_TRUE(m.opened());
    EXPECT_EQ(m.movie.nFrames(), 2);
    int w = -1, h = -1;
    m.movie.frameSize(w, h);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 8);
    EXPECT_EQ(m.movie.frameSize(0), 60);
    EXPECT_EQ(m.movie.frameOffset(0), 16);
    EXPECT_EQ(m.movie.frameOffset(1), 76);
    EXPECT_EQ(m.frameBytes(0), dxt1Frame(0));
    EXPECT_EQ(m.frameBytes(1), dxt1Frame(1));
    EXPECT_STREQ(m.movie.frameType(), "ZUVM");
    EXPECT_EQ(m.movie.frameBitDepth(), 24);
    int n = 0, d = 0;
    m.movie.frameRate(n, d);
    EXPECT_EQ(n, 600);
    EXPECT_EQ(d, 24);
    EXPECT_FLOAT_EQ(m.movie.frameRate(), 25.0f);
    EXPECT_FALSE(m.movie.hasAudio());
}
