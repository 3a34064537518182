// Frames fetched two at a time on two importer records of one movie, through
// the built module: every frame reaches its use once, with the pixels one
// record fetching alone gets, in the list's order when asked; a damaged frame
// fails alone; a use that throws, or a caller that stops, ends both threads.
#include "libkeo/MovieExport.h"
#include "libkeo/SideBySideFrames.h"
#include "tools/TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
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
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), {});
    auto le32 = [&](size_t at) {
        return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
               uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
    };
    size_t at = bytes.find("mdat") + 4;
    if (bytes.compare(at - 8, 4, std::string("\0\0\0\1", 4)) == 0)
        at += 8; // a 64-bit size follows the type
    for (int k = 0; k < kDamaged; ++k)
        at += 28 + le32(at + 16);
    f.seekp(static_cast<std::streamoff>(at));
    f.put(char(200));
}

struct Used {
    std::vector<size_t> order;
    std::vector<std::vector<uint8_t>> pixels = std::vector<std::vector<uint8_t>>(kFrames);
    std::vector<int> results = std::vector<int>(kFrames, -1);
};

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
        for (PluginSession* other : {&second, static_cast<PluginSession*>(nullptr)}) {
            SCOPED_TRACE(std::string(inOrder ? "in order" : "as fetched") +
                         (other ? ", two records" : ", one record"));
            Used used;
            std::mutex lock;
            fetchFramesSideBySide(
                first, other, indices, inOrder, [&](size_t k, int result, const FrameRows* rows) {
                    std::lock_guard<std::mutex> hold(lock);
                    used.order.push_back(k);
                    used.results[k] = result;
                    used.pixels[k].resize(kW * kH * 4);
                    if (rows)
                        copyFrameRows(*rows, kW, kH, keo::PixelLayout::ARGB, used.pixels[k].data());
                });
            ASSERT_EQ(used.order.size(), size_t(kFrames));
            for (size_t k = 0; k < kFrames; ++k) {
                if (inOrder) {
                    EXPECT_EQ(used.order[k], k);
                }
                const int i = indices[k];
                EXPECT_EQ(used.results[k] != 0, i == kDamaged) << "frame " << i;
                if (i != kDamaged) {
                    EXPECT_TRUE(used.pixels[k] == alone[i]) << "frame " << i;
                }
            }
        }
    }

    // A use that throws at the third frame of the list, and a caller that
    // stops after two frames of its own: no frame after the third is used in
    // order, and both threads are done when the call returns.
    size_t usedAfter = 0;
    auto throwing = [&](size_t k, int, const FrameRows*) {
        if (k == 2)
            throw std::runtime_error("stop here");
        usedAfter += k > 2;
    };
    EXPECT_THROW(fetchFramesSideBySide(first, &second, indices, true, throwing),
                 std::runtime_error);
    EXPECT_EQ(usedAfter, 0u);
    int asked = 0;
    size_t count = 0;
    fetchFramesSideBySide(
        first, &second, indices, true, [&](size_t, int, const FrameRows*) { ++count; },
        [&] { return ++asked <= 2; });
    EXPECT_LT(count, size_t(kFrames));
    closeMovie(second);
    endSession(first);
}
