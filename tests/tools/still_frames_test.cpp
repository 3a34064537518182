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
        for (int i = 0; i < kFiles; ++i)
            writePngFile(files[i], frameOf(i).data(), kW, kH);
    }
    std::vector<std::string> files;
};

// Each case spoils one file one way, or none: every frame before it is lent
// in file order with its own file's pixels, with and without workers, and
// the failure names that file when its frame is asked for. The first file
// gives the movie's size, so it is read before any frame is asked for, and
// its fault is said at once. (A file gone before its turn fails as one cut
// short does, in the worker's read.)
TEST_F(StillFramesTest, FramesInFileOrderAndABadFileReportedByNameAtItsOwnFrame) {
    struct Spoil {
        const char* how;
        int at;
        void (*apply)(const std::string& path);
        const char* said;
    } spoils[] = {
        {"no file spoilt", kFiles, nullptr, ""},
        {"cut short", 5, [](const std::string& path) { truncate(path.c_str(), 60); }, "PNG"},
        {"of another size", 5,
         [](const std::string& path) {
             writePngFile(path, frameOf(5, kW + 1, kH).data(), kW + 1, kH);
         },
         "is 14x7, but the pictures before it are 13x7"},
        {"the first, emptied", 0, [](const std::string& path) { truncate(path.c_str(), 0); },
         "is empty (0 bytes), not a picture"},
    };
    for (const Spoil& spoil : spoils)
        for (int workers : {0, 1, 3}) {
            SCOPED_TRACE(testing::Message() << spoil.how << ", " << workers << " workers");
            writeFiles();
            if (spoil.apply)
                spoil.apply(files[spoil.at]);
            try {
                StillFrames stills(files, workers);
                EXPECT_GT(spoil.at, 0) << "the first file was taken";
                EXPECT_EQ(stills.width(), kW);
                EXPECT_EQ(stills.height(), kH);
                size_t pitch = 0;
                for (int i = 0; i < spoil.at; ++i) {
                    const uint8_t* pixels = stills.lend(i, &pitch);
                    ASSERT_NE(pixels, nullptr) << "frame " << i;
                    EXPECT_EQ(pitch, size_t(kW) * 4);
                    EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + kW * kH * 4), frameOf(i))
                        << "frame " << i;
                }
                EXPECT_EQ(stills.lend(spoil.at, &pitch), nullptr)
                    << "frame " << spoil.at << " was taken";
            } catch (const Failure& e) {
                const std::string what = e.what();
                ASSERT_LT(spoil.at, kFiles) << what;
                EXPECT_EQ(what.rfind(files[spoil.at] + ": ", 0), 0u) << what;
                EXPECT_NE(what.find(spoil.said), std::string::npos) << what;
            }
        }
}

// Read one after another into one picture, stills of one size keep its
// memory, and each reads as it does alone.
TEST_F(StillFramesTest, StillsReadIntoOnePictureKeepItsMemory) {
    RgbaPicture pic;
    readStill(files[0], &pic);
    const uint8_t* memory = pic.rgba.data();
    readStill(files[1], &pic);
    EXPECT_EQ(pic.rgba.data(), memory);
    EXPECT_EQ(pic.rgba, frameOf(1));
}

} // namespace
