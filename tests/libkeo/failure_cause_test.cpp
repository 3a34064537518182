// Whether a request the plug-in failed failed for memory or for the movie:
// libkeo decides by reading the request's bytes beside the plug-in. A frame
// or sound that reads here was lost to memory; one that does not is damage.
#include "libkeo/MovieExport.h"
#include "libkeo/MovieSurvey.h"
#include "tools/TempFolder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

using namespace keo::lib;

namespace {

// Two 16x8 frames of a gradient with a second of stereo silence, written
// as keo export writes them.
void writeMovie(const std::string& path) {
    ExportSettings s;
    s.output = path;
    s.width = 16;
    s.height = 8;
    s.rate = keo::FrameRate{25, 1};
    s.hasAudio = true;
    s.channels = 2;
    s.sampleRate = 48000;
    s.bits = 16;
    s.keepFreedMemory = false;
    exportMovie(
        s,
        [](int64_t index, uint8_t* rgba) {
            for (int p = 0; p < 16 * 8 * 4; ++p)
                rgba[p] = static_cast<uint8_t>(p * 3 + index);
            return index < 2;
        },
        [](int64_t, uint32_t count, uint32_t channels, float** planar) {
            for (uint32_t c = 0; c < channels; ++c)
                std::fill(planar[c], planar[c] + count, 0.0f);
            return true;
        });
}

} // namespace

// Every request of the movie as written reads here; a frame or sound the file
// does not hold, and a file that is not there, are damage. Bytes held that do
// not read are the damaged movies of keo verify's and the Python module's tests.
TEST_F(TempFolder, ARequestThatReadsHereWasLostToMemoryAndOneThatDoesNotIsDamage) {
    const std::string path = file("m.mov");
    writeMovie(path);
    EXPECT_TRUE(frameFailedForMemory(path, 0, 16, 8));
    EXPECT_TRUE(frameFailedForMemory(path, 1, 16, 8));
    EXPECT_TRUE(audioFailedForMemory(path, 0, 3840));
    EXPECT_FALSE(frameFailedForMemory(path, 2, 16, 8));      // no such frame
    EXPECT_FALSE(audioFailedForMemory(path, 3000, 1 << 30)); // more than the file holds
    EXPECT_FALSE(frameFailedForMemory(file("missing.mov"), 0, 16, 8));
}
