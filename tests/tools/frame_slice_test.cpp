// --frames A:B against a movie of 5 frames: bounds left out, negative,
// past either end, and the slices that select nothing or are not slices.
#include "FrameSlice.h"

#include <gtest/gtest.h>
#include <string>

using namespace keo::tool;

namespace {

TEST(FrameSlice, BoundsResolveAsASliceDoes) {
    const struct {
        const char* text;
        int first, end;
    } cases[] = {
        {":", 0, 5},   {"1:3", 1, 3},   {"3:", 3, 5},     {":2", 0, 2},    {"3:100", 3, 5},
        {"-2:", 3, 5}, {":-1", 0, 4},   {"-100:2", 0, 2}, {"-3:-1", 2, 4}, {"7:", 5, 5},
        {"3:1", 3, 1}, {"-1:-3", 4, 2}, {"0:0", 0, 0},    {"4:5", 4, 5},   {"-5:-4", 0, 1},
    };
    for (const auto& c : cases) {
        FrameSlice slice;
        std::string why;
        ASSERT_TRUE(parseFrameSlice(c.text, 5, &slice, &why)) << c.text << ": " << why;
        EXPECT_EQ(slice.first, c.first) << c.text;
        EXPECT_EQ(slice.end, c.end) << c.text;
    }
}

TEST(FrameSlice, WhatIsNotASliceIsNamed) {
    for (const char* text :
         {"3", "1:2:3", "a:2", "1:b", "+1:2", " 1:2", "1.5:2", "99999999999999999999:"}) {
        FrameSlice slice;
        std::string why;
        EXPECT_FALSE(parseFrameSlice(text, 5, &slice, &why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
}

TEST(FrameSlice, AnEmptySliceSaysWhy) {
    const struct {
        const char* text;
        int frames;
        const char* says;
    } cases[] = {
        {"7:", 5, "'7:' starts past the last frame; the movie has 5 frames (0 to 4)"},
        {"3:1", 5, "its end, frame 1, is not after its start, frame 3"},
        {"-1:-3", 5, "its end, frame 2, is not after its start, frame 4"},
        {"1:", 1, "the movie has 1 frame (0)"},
    };
    for (const auto& c : cases) {
        FrameSlice slice;
        std::string why;
        ASSERT_TRUE(parseFrameSlice(c.text, c.frames, &slice, &why)) << c.text;
        ASSERT_GE(slice.first, slice.end) << c.text;
        EXPECT_NE(emptySliceReason(c.text, c.frames, slice).find(c.says), std::string::npos)
            << emptySliceReason(c.text, c.frames, slice);
    }
}

} // namespace
