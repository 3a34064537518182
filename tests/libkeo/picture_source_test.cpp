// An export from pictures that their source lends where they lie (a movie's
// decoded frames, stills decoded ahead): rows at any pitch make the movie
// that the same pictures fed packed make, byte for byte, on one thread and
// on two; a source that lends rows too short for the frame leaves no movie
// behind. (A source that fails, a still that cannot be read, is keo
// export's own case.)
#include "libkeo/Failure.h"
#include "libkeo/MovieExport.h"
#include "tools/TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

using namespace keo::lib;

namespace {

constexpr int kW = 40, kH = 30, kFrames = 5;

ExportSettings settingsFor(const std::string& output, int threads) {
    ExportSettings s;
    s.output = output;
    s.width = kW;
    s.height = kH;
    s.rate = keo::FrameRate{25, 1};
    s.threads = threads;
    s.keepFreedMemory = false;
    return s;
}

// The frames with `pitch` bytes from one row to the next; the bytes past a
// row's end hold what no picture has, so reading them would show.
std::vector<std::vector<uint8_t>> framesAt(size_t pitch) {
    std::vector<std::vector<uint8_t>> frames(kFrames, std::vector<uint8_t>(pitch * kH, 0xA7));
    for (int f = 0; f < kFrames; ++f)
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW * 4; ++x)
                frames[f][y * pitch + x] =
                    static_cast<uint8_t>(x / 4 * 5 + y * 9 + x % 4 * 61 + f * 17);
    return frames;
}

std::vector<char> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A source that lends frames at `pitch`, and says `pitch` for every frame
// but `shortAt`, whose rows it says are a byte short.
PictureSource lending(const std::vector<std::vector<uint8_t>>& frames, size_t pitch,
                      int64_t shortAt = -1) {
    return [&frames, pitch, shortAt](int64_t i, size_t* said) -> const uint8_t* {
        *said = i == shortAt ? kW * 4 - 1 : pitch;
        return i < kFrames ? frames[i].data() : nullptr;
    };
}

} // namespace

TEST_F(TempFolder, LentPicturesAtAnyPitchMakeTheMovieOfPackedOnes) {
    const std::string packed = file("packed.mov");
    const std::vector<std::vector<uint8_t>> fed = framesAt(kW * 4);
    exportMovie(
        settingsFor(packed, 1),
        [&](int64_t i, uint8_t* rgba) {
            if (i >= kFrames)
                return false;
            std::copy(fed[i].begin(), fed[i].end(), rgba);
            return true;
        },
        AudioFeed{});
    const std::vector<char> want = bytesOf(packed);
    ASSERT_FALSE(want.empty());
    for (size_t extra : {size_t(0), size_t(12), size_t(4000)})
        for (int threads : {1, 2}) {
            const std::string lent = file("lent.mov");
            const std::vector<std::vector<uint8_t>> frames = framesAt(kW * 4 + extra);
            const ExportStats stats = exportMovie(settingsFor(lent, threads),
                                                  lending(frames, kW * 4 + extra), AudioFeed{});
            EXPECT_EQ(stats.frames, kFrames);
            EXPECT_EQ(bytesOf(lent), want)
                << extra << " bytes past each row, " << threads << " threads";
        }
}

TEST_F(TempFolder, ASourceThatLendsShortRowsLeavesNoMovie) {
    const std::vector<std::vector<uint8_t>> frames = framesAt(kW * 4);
    const std::string out = file("m.mov");
    try {
        exportMovie(settingsFor(out, 2), lending(frames, kW * 4, 2), AudioFeed{});
        ADD_FAILURE() << "rows a byte short of the frame's width were exported";
    } catch (const Failure& e) {
        EXPECT_EQ(std::string(e.what()), "frame 2: its rows are shorter than the frame's width");
    }
    EXPECT_NE(access(out.c_str(), F_OK), 0) << "a movie was left";
}
