// Whether a request the plug-in failed failed for memory or for the movie:
// libkeo decides by reading the request's bytes beside the plug-in. A frame
// or sound that reads here was lost to memory; one that does not is damage.
#include "libkeo/MovieExport.h"
#include "libkeo/MovieSurvey.h"
#include "tools/TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

using namespace keo::lib;

namespace {

// Two 16x8 frames of a gradient with a second of stereo silence, written
// as keo export writes them (DXT24 plain, so frame 1's header is easy to find).
void writeMovie(const std::string& path) {
    ExportSettings s;
    s.output = path;
    s.width = 16;
    s.height = 8;
    s.rate = keo::FrameRate{25, 1};
    s.optimize = 2;
    s.hasAudio = true;
    s.channels = 2;
    s.sampleRate = 48000;
    s.bits = 16;
    s.keepFreedMemory = false;
    auto frames = [](int64_t index, uint8_t* rgba) {
        for (int p = 0; p < 16 * 8 * 4; ++p)
            rgba[p] = static_cast<uint8_t>(p * 3 + index);
        return index < 2;
    };
    auto sound = [](int64_t, uint32_t count, uint32_t channels, float** planar) {
        for (uint32_t c = 0; c < channels; ++c)
            std::fill(planar[c], planar[c] + count, 0.0f);
        return true;
    };
    exportMovie(s, frames, sound);
}

} // namespace

TEST_F(TempFolder, ARequestThatReadsBesideThePluginWasLostToMemory) {
    const std::string path = file("m.mov");
    writeMovie(path);
    EXPECT_TRUE(frameFailedForMemory(path, 0, 16, 8));
    EXPECT_TRUE(frameFailedForMemory(path, 1, 16, 8));
    EXPECT_TRUE(audioFailedForMemory(path, 0, 3840));
}

TEST_F(TempFolder, ARequestThatDoesNotReadIsDamage) {
    const std::string path = file("m.mov");
    writeMovie(path);
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    // Frame 1's payload header, found by its header size (28) and format
    // version (1): a header size above 28 is refused by the decoder.
    const std::string header("\x1c\0\0\0\x01", 5);
    size_t second = std::string(bytes.begin(), bytes.end()).find(header, 0);
    second = std::string(bytes.begin(), bytes.end()).find(header, second + 1);
    ASSERT_NE(second, std::string::npos);
    bytes[second] = static_cast<char>(200);
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    EXPECT_TRUE(frameFailedForMemory(path, 0, 16, 8));
    EXPECT_FALSE(frameFailedForMemory(path, 1, 16, 8));
    EXPECT_FALSE(frameFailedForMemory(path, 2, 16, 8));      // no such frame
    EXPECT_FALSE(audioFailedForMemory(path, 3000, 1 << 30)); // more than the file holds
    EXPECT_FALSE(frameFailedForMemory(file("missing.mov"), 0, 16, 8));
}
