// The frames of an export from still files, decoded on worker threads ahead
// of it: every frame comes in file order with its own file's pixels, whichever
// worker finished first, and a file that cannot be taken is reported by its
// name when the export reaches its frame, never earlier, as a one-thread
// export would report it.
#include "Png.h"
#include "StillFrames.h"
#include "Stills.h"
#include "TempFolder.h"
#include "libkeo/Failure.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace keo::tool;
using keo::lib::Failure;

namespace {

constexpr int kW = 13, kH = 7, kFiles = 9;

// Frame i's picture: every sample differs from frame to frame and within it.
std::vector<uint8_t> frameOf(int i, int w = kW, int h = kH) {
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (size_t p = 0; p < rgba.size(); ++p)
        rgba[p] = static_cast<uint8_t>(p * 7 + i * 31);
    return rgba;
}

class StillFramesTest : public TempFolder {
protected:
    void SetUp() override {
        TempFolder::SetUp();
        for (int i = 0; i < kFiles; ++i)
            files.push_back(file("f" + std::to_string(i) + ".png"));
        writeFiles();
    }
    // Every file whole again.
    void writeFiles() {
        for (int i = 0; i < kFiles; ++i) {
            const std::vector<uint8_t> rgba = frameOf(i);
            writePngFile(files[i], rgba.data(), kW, kH);
        }
    }
    std::vector<std::string> files;
};

TEST_F(StillFramesTest, EveryFrameInFileOrderWithAndWithoutWorkers) {
    for (int workers : {0, 1, 3}) {
        SCOPED_TRACE(testing::Message() << workers << " workers");
        StillFrames stills(files, workers);
        EXPECT_EQ(stills.width(), kW);
        EXPECT_EQ(stills.height(), kH);
        for (int i = 0; i < kFiles; ++i) {
            size_t pitch = 0;
            const uint8_t* pixels = stills.lend(i, &pitch);
            ASSERT_NE(pixels, nullptr) << "frame " << i;
            EXPECT_EQ(pitch, size_t(kW) * 4);
            EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + kW * kH * 4), frameOf(i))
                << "frame " << i;
        }
        size_t pitch = 0;
        EXPECT_EQ(stills.lend(kFiles, &pitch), nullptr);
    }
}

// Each spoils file 5 one way: every frame before it is still lent, and the
// failure names that file when frame 5 is asked for.
TEST_F(StillFramesTest, ABadFileIsReportedByNameAtItsOwnFrame) {
    struct Spoil {
        const char* how;
        void (*apply)(const std::string& path);
        const char* said;
    } spoils[] = {
        {"cut short", [](const std::string& path) { truncate(path.c_str(), 60); }, "PNG"},
        {"of another size",
         [](const std::string& path) {
             const std::vector<uint8_t> rgba = frameOf(5, kW + 1, kH);
             writePngFile(path, rgba.data(), kW + 1, kH);
         },
         "is 14x7, but the pictures before it are 13x7"},
        {"gone", [](const std::string& path) { unlink(path.c_str()); },
         "No such file or directory"},
    };
    for (const Spoil& spoil : spoils)
        for (int workers : {0, 2}) {
            SCOPED_TRACE(testing::Message() << spoil.how << ", " << workers << " workers");
            writeFiles();
            spoil.apply(files[5]);
            StillFrames stills(files, workers);
            size_t pitch = 0;
            for (int i = 0; i < 5; ++i)
                ASSERT_NE(stills.lend(i, &pitch), nullptr) << "frame " << i;
            try {
                stills.lend(5, &pitch);
                ADD_FAILURE() << "frame 5 was taken";
            } catch (const Failure& e) {
                const std::string what = e.what();
                EXPECT_EQ(what.rfind(files[5] + ": ", 0), 0u) << what;
                EXPECT_NE(what.find(spoil.said), std::string::npos) << what;
            }
        }
}

// The first file gives the movie's size, so it is read before any frame
// is asked for, and its fault is said at once.
TEST_F(StillFramesTest, ABadFirstFileFailsAtOnce) {
    truncate(files[0].c_str(), 0);
    for (int workers : {0, 2}) {
        try {
            StillFrames stills(files, workers);
            ADD_FAILURE() << "the first file was taken, " << workers << " workers";
        } catch (const Failure& e) {
            EXPECT_EQ(std::string(e.what()), files[0] + ": is empty (0 bytes), not a picture");
        }
    }
}

// Read one after another into one picture, stills of one size keep its
// memory, and each reads as it does alone whatever was there before.
TEST_F(StillFramesTest, StillsReadIntoOnePictureKeepItsMemory) {
    const std::string wide = file("wide.png");
    const std::vector<uint8_t> wider = frameOf(9, kW * 3, kH);
    writePngFile(wide, wider.data(), kW * 3, kH);
    RgbaPicture pic;
    readStill(files[0], &pic);
    const uint8_t* memory = pic.rgba.data();
    readStill(files[1], &pic);
    EXPECT_EQ(pic.rgba.data(), memory);
    EXPECT_EQ(pic.rgba, frameOf(1));
    readStill(wide, &pic);
    EXPECT_EQ(pic.width, kW * 3);
    EXPECT_EQ(pic.rgba, wider);
    readStill(files[2], &pic);
    EXPECT_EQ(pic.width, kW);
    EXPECT_EQ(pic.rgba, frameOf(2));
}

} // namespace
