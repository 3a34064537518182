// Drives the built importer module as a host would, through the plug-in
// driver: every call goes through the module's entry with a fresh stand-in
// host per test, which must get everything back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PluginDriver.h"
#include "StandInHost.h"
#include "support/MovieBuilder.h"

namespace keoimp {

using keotest::Bytes;

// A UTF-8 string as zero-terminated UTF-16.
inline std::vector<prUTF16Char> Utf16(const std::string& utf8) {
    return keo::host::utf16Path(utf8);
}

// A valid KEO payload of a width x height frame: a 28-byte header and
// seeded block bytes (every bit pattern is a valid block), DXT1, DXT5
// (alpha) or DXT24.
Bytes KeoFrame(int width, int height, bool alpha, bool dxt24, uint32_t seed);

// Audio of `frames` sample frames, interleaved, each value `bits` wide
// (8, 16, 24 or 32) in the given byte order; the value of channel c of frame
// i comes from a fixed formula so tests can rebuild it.
Bytes AudioBytes(int firstFrame, int frames, int channels, int bits, bool littleEndian);

struct MovieRecipe {
    double width = 8, height = 8;
    uint32_t timeScale = 600, duration = 24; // frames per second = scale / duration
    std::vector<Bytes> frames;               // sample bytes in order
    bool audio = false;
    std::string audioFormat = "twos";
    int channels = 2, bits = 16;
    int audioFrames = 200; // split into two chunks, after frame 0 and frame 1
};
// The movie of the recipe: a 64-bit mdat with frames and audio chunks
// alternating, then the moov.
keotest::Movie BuildMovie(const MovieRecipe& recipe);

// The frame at `time` of any session, packed and top row first; and `size`
// sample frames from `position`, one array per channel, each filled with -7
// first so that what was not delivered shows.
int32_t FrameAt(keo::host::ImporterSession* s, PrTime time, Bytes* argb);
int32_t AudioAt(keo::host::ImporterSession* s, int64_t position, uint32_t size,
                std::vector<std::vector<float>>* planar);

class ImporterTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    int32_t call(int32_t selector, void* param1, void* param2);
    // imOpenFile8 of `path`; the record handle stays in `privateData`.
    int32_t open(const std::string& path);
    int32_t open(const Bytes& movie); // through a temporary file
    int32_t info();
    // imGetSourceVideo at `time`; the frame, if any, goes to `*frame` and is
    // disposed of by TearDown.
    int32_t sourceVideo(PrTime time, imFrameFormat* format, PPixHand* frame);
    int32_t sourceVideo(PrTime time, PPixHand* frame);
    int32_t audio(int64_t position, uint32_t size, std::vector<std::vector<float>>* channels,
                  int channelCount);
    void quiet();
    void closeFile();
    PrTime ticksOf(PrVideoFrameRate code);

    keo::host::StandInHost* host = nullptr;
    keo::host::HostSuites suites{};
    keo::host::ImporterSession session;
    // The session's fields under the names the tests read and set.
    ImportEntryFunc& entry = session.entry;
    void*& privateData = session.privateData;
    imFileRef& fileRef = session.fileRef;
    imFileInfoRec8& fileInfo = session.info;
    std::vector<prUTF16Char>& path16 = session.path16;
    std::vector<PPixHand> framesOut;
    std::vector<std::unique_ptr<keotest::TempFile>> files;
    bool closed = true;
};

} // namespace keoimp
