// Frames fetched two at a time on two importer records of one movie, through
// the built module: every frame reaches its use once, with the pixels one
// record fetching alone gets, in the list's order when asked; a damaged frame
// fails alone; a use that throws ends both threads.
#include "container/MovFile.h"
#include "libkeo/MovieExport.h"
#include "libkeo/SideBySideFrames.h"
#include "tools/TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <string>

using namespace keo::lib;

namespace {

constexpr int kW = 16, kH = 8, kFrames = 9, kDamaged = 5;

// Nine frames of a gradient that changes with the frame, the sixth damaged
// (its payload header claims a size the decoder refuses).
void writeMovie(const std::string& path) {
    ExportSettings s;
    s.output = path;
    s.width = kW;
    s.height = kH;
    s.rate = keo::FrameRate{25, 1};
    s.keepFreedMemory = false;
    exportMovie(s,
                [](int64_t index, uint8_t* rgba) {
                    for (int p = 0; p < kW * kH * 4; ++p)
                        rgba[p] = static_cast<uint8_t>(p * 7 + index * 31);
                    return index < kFrames;
                },
                {});
    MovFile movie;
    ASSERT_NE(movie.openRead(path.c_str()), nullptr);
    const long long at = movie.frameOffset(kDamaged);
    movie.close();
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(at);
    f.put(char(200));
}

} // namespace

TEST_F(TempFolder, FramesSideBySideAreTheFramesOfOneRecordAlone) {
    const std::string path = file("m.mov");
    writeMovie(path);
    PluginSession first, second;
    startSession(first, KEO_PLUGIN_PATH);
    openMovie(first, path);
    joinSession(second, first.modulePath, first.module.entry, first.host);
    openMovie(second, path);
    std::vector<int> indices;
    for (int i = kFrames; i-- > 0;) // backwards: the list's order, not the movie's
        indices.push_back(i);
    std::vector<std::vector<uint8_t>> alone(kFrames, std::vector<uint8_t>(kW * kH * 4));
    for (int i = 0; i < kFrames; ++i)
        EXPECT_EQ(fetchFrame(first, i, alone[i].data()) != 0, i == kDamaged);

    for (const bool inOrder : {true, false}) {
        SCOPED_TRACE(inOrder ? "in order" : "as fetched");
        std::vector<size_t> order;
        std::vector<int> results(kFrames, -1);
        std::vector<std::vector<uint8_t>> pixels(kFrames, std::vector<uint8_t>(kW * kH * 4));
        std::mutex lock;
        fetchFramesSideBySide(
            first, &second, indices, inOrder, [&](size_t k, int result, const FrameRows* rows) {
                std::lock_guard<std::mutex> hold(lock);
                order.push_back(k);
                results[k] = result;
                if (rows)
                    copyFrameRows(*rows, kW, kH, keo::PixelLayout::ARGB, pixels[k].data());
            });
        ASSERT_EQ(order.size(), size_t(kFrames));
        for (size_t k = 0; k < kFrames; ++k) {
            const int i = indices[k];
            EXPECT_TRUE(!inOrder || order[k] == k);
            EXPECT_EQ(results[k] != 0, i == kDamaged) << "frame " << i;
            EXPECT_TRUE(i == kDamaged || pixels[k] == alone[i]) << "frame " << i;
        }
    }

    // A use that throws at the third frame of the list: no later frame is
    // used, and both threads are done when the call returns.
    size_t usedAfter = 0;
    auto throwing = [&](size_t k, int, const FrameRows*) {
        if (k == 2)
            throw std::runtime_error("stop here");
        usedAfter += k > 2;
    };
    EXPECT_THROW(fetchFramesSideBySide(first, &second, indices, true, throwing),
                 std::runtime_error);
    EXPECT_EQ(usedAfter, 0u);
    closeMovie(second);
    endSession(first);
}
