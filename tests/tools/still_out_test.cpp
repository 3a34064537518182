// Frames encoded as PNG, TIFF and JPEG by keo decode: read back by keo's
// own still reader, the lossless ones hold exactly the frame's pixels (alpha
// straight, not premultiplied) at every size, PNG at both compressions, and
// JPEG stays close in colour; a picture no format can hold is an error, not
// a crash.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "StillOut.h"
#include "Stills.h"
#include "TempFolder.h"

namespace keo::tool {
namespace {

// An ARGB frame of smooth colour with noise, and alpha running from 0 to 255.
std::vector<uint8_t> frameOf(int width, int height, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> argb(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &argb[(static_cast<size_t>(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>(255 * x / std::max(1, width - 1));
            p[1] = static_cast<uint8_t>(4 * x + rng() % 8);
            p[2] = static_cast<uint8_t>(3 * y + rng() % 8);
            p[3] = static_cast<uint8_t>(x * y + rng() % 8);
        }
    return argb;
}

class StillOut : public TempFolder {
protected:
    RgbaPicture readBack(const std::vector<uint8_t>& bytes, const char* name) {
        const std::string path = dir + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        return readStill(path);
    }
};

// The frame's pixels in the order of the files, A moved from first to last.
std::vector<uint8_t> asRgba(const std::vector<uint8_t>& argb) {
    std::vector<uint8_t> rgba;
    for (size_t p = 0; p < argb.size(); p += 4)
        rgba.insert(rgba.end(), {argb[p + 1], argb[p + 2], argb[p + 3], argb[p]});
    return rgba;
}

TEST_F(StillOut, LosslessFormatsHoldTheFrameExactly) {
    struct Case {
        const char* name;
        StillSettings settings;
    };
    const Case cases[] = {
        {"fast.png", {StillFormat::Png, PngCompression::Fast, 95}},
        {"small.png", {StillFormat::Png, PngCompression::Small, 95}},
        {"frame.tif", {StillFormat::Tiff, PngCompression::Fast, 95}},
    };
    const int sizes[][2] = {{1, 1}, {7, 3}, {33, 17}, {160, 9}};
    for (const Case& c : cases)
        for (const auto& size : sizes) {
            const auto argb = frameOf(size[0], size[1], 5);
            const RgbaPicture back =
                readBack(encodeStill(c.settings, argb.data(), size[0], size[1]), c.name);
            SCOPED_TRACE(testing::Message() << c.name << " " << size[0] << "x" << size[1]);
            EXPECT_EQ(back.width, size[0]);
            EXPECT_EQ(back.height, size[1]);
            EXPECT_EQ(back.rgba, asRgba(argb));
        }
}

TEST_F(StillOut, SmallPngIsSmallerThanFast) {
    const auto argb = frameOf(320, 180, 6);
    const auto fast =
        encodeStill({StillFormat::Png, PngCompression::Fast, 95}, argb.data(), 320, 180);
    const auto small =
        encodeStill({StillFormat::Png, PngCompression::Small, 95}, argb.data(), 320, 180);
    EXPECT_LT(small.size(), fast.size());
}

// JPEG has no alpha and loses a little colour: R, G and B must each stay
// close (a channel put in the wrong place would be far off), alpha is 255.
TEST_F(StillOut, JpegKeepsTheColoursCloseAndDropsAlpha) {
    const auto argb = frameOf(64, 48, 7);
    const RgbaPicture back = readBack(
        encodeStill({StillFormat::Jpeg, PngCompression::Fast, 95}, argb.data(), 64, 48), "f.jpg");
    ASSERT_EQ(back.rgba.size(), argb.size());
    double squared[3] = {};
    for (size_t p = 0; p < argb.size(); p += 4) {
        for (int c = 0; c < 3; ++c) {
            const double d = double(back.rgba[p + c]) - argb[p + 1 + c];
            squared[c] += d * d;
        }
        EXPECT_EQ(back.rgba[p + 3], 255);
    }
    for (int c = 0; c < 3; ++c) {
        const double psnr = 10 * std::log10(255.0 * 255.0 * (argb.size() / 4) / squared[c]);
        EXPECT_GT(psnr, 30) << "channel " << c;
    }
}

TEST_F(StillOut, APictureNoFormatCanHoldIsAnError) {
    const uint8_t pixel[4] = {};
    for (StillFormat format : {StillFormat::Png, StillFormat::Tiff, StillFormat::Jpeg})
        EXPECT_THROW(encodeStill({format, PngCompression::Fast, 95}, pixel, 0, 1),
                     std::runtime_error)
            << static_cast<int>(format);
}

} // namespace
} // namespace keo::tool
