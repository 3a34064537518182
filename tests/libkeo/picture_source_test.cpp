// An export from pictures that their source lends where they lie (a movie's
// decoded frames, stills decoded ahead): rows at any pitch make the movie
// that the same pictures fed packed make, byte for byte, on one thread and
// on two; a source that fails, or lends rows too short for the frame,
// leaves no movie behind.
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

uint8_t sampleOf(int64_t frame, int x, int y, int c) {
    return static_cast<uint8_t>(x * 5 + y * 9 + c * 61 + frame * 17);
}

// The frames with `pitch` bytes from one row to the next; the bytes past a
// row's end hold what no picture has, so reading them would show.
std::vector<std::vector<uint8_t>> framesAt(size_t pitch) {
    std::vector<std::vector<uint8_t>> frames;
    for (int64_t f = 0; f < kFrames; ++f) {
        std::vector<uint8_t> rows(pitch * kH, 0xA7);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                for (int c = 0; c < 4; ++c)
                    rows[y * pitch + x * 4 + c] = sampleOf(f, x, y, c);
        frames.push_back(rows);
    }
    return frames;
}

std::vector<char> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
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
            PictureSource source = [&](int64_t i, size_t* pitch) -> const uint8_t* {
                *pitch = kW * 4 + extra;
                return i < kFrames ? frames[i].data() : nullptr;
            };
            const ExportStats stats = exportMovie(settingsFor(lent, threads), source, AudioFeed{});
            EXPECT_EQ(stats.frames, kFrames);
            EXPECT_EQ(bytesOf(lent), want)
                << extra << " bytes past each row, " << threads << " threads";
        }
}

TEST_F(TempFolder, ASourceThatFailsOrLendsShortRowsLeavesNoMovie) {
    const std::vector<std::vector<uint8_t>> frames = framesAt(kW * 4);
    struct Case {
        const char* what;
        int64_t badFrame;
        bool shortRows; // else the source throws
        const char* said;
    } cases[] = {
        {"a source that throws at frame 3", 3, false, "f3.png: cannot be read"},
        {"rows a byte short of the frame's width", 2, true,
         "frame 2: its rows are shorter than the frame's width"},
    };
    for (const Case& c : cases) {
        const std::string out = file("m.mov");
        PictureSource source = [&](int64_t i, size_t* pitch) -> const uint8_t* {
            if (i == c.badFrame && !c.shortRows)
                fail("f" + std::to_string(i) + ".png", "cannot be read");
            *pitch = i == c.badFrame ? kW * 4 - 1 : kW * 4;
            return i < kFrames ? frames[i].data() : nullptr;
        };
        try {
            exportMovie(settingsFor(out, 2), source, AudioFeed{});
            ADD_FAILURE() << c.what << " was exported";
        } catch (const Failure& e) {
            EXPECT_EQ(std::string(e.what()), c.said) << c.what;
        }
        EXPECT_NE(access(out.c_str(), F_OK), 0) << c.what << " left its movie";
    }
}
