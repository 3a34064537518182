// The SSE2 and portable DXT24 region encoders give the same bytes: on
// natural and noise pictures of odd sizes (edge blocks), bottom-up rows, and
// on blocks built to reach every branch of the block encoder (constant,
// nearly constant, two colours, one channel, few levels).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/DXT24EncodePaths.h"
#include "codec/encode_picture.h"

namespace {

std::vector<unsigned char> encode(KEOEncodePath path, const std::vector<unsigned char>& picture,
                                  int width, int height, bool bottomUp = false) {
    std::vector<unsigned char> blocks(static_cast<size_t>((width + 3) / 4) * ((height + 3) / 4) *
                                      10);
    const ptrdiff_t pitch = static_cast<ptrdiff_t>(width) * 4;
    const unsigned char* start = bottomUp ? picture.data() + (height - 1) * pitch : picture.data();
    EXPECT_TRUE(
        KEOEncodeDXT24Region(blocks.data(), start, width, height, bottomUp ? -pitch : pitch, path));
    return blocks;
}

#define SKIP_WITHOUT_SSE2()                                                                        \
    do {                                                                                           \
        if (!KEOEncodePathAvailable(kKEOEncodeSSE2))                                               \
            GTEST_SKIP() << "build without SSE2";                                                  \
    } while (0)

TEST(EncodePaths, NaturalAndNoisePicturesOfOddSizesEncodeAlike) {
    SKIP_WITHOUT_SSE2();
    const int sizes[][2] = {{1, 1}, {3, 7}, {6, 6}, {17, 9}, {64, 64}, {131, 45}, {250, 3}};
    uint32_t seed = 3;
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        for (bool noise : {false, true}) {
            const auto picture = noise ? encode_test::noisePicture(w, h, seed++)
                                       : encode_test::naturalPicture(w, h, seed++);
            SCOPED_TRACE(testing::Message() << w << "x" << h << (noise ? " noise" : " natural"));
            EXPECT_EQ(encode(kKEOEncodeSSE2, picture, w, h),
                      encode(kKEOEncodePortable, picture, w, h));
            EXPECT_EQ(encode(kKEOEncodeSSE2, picture, w, h, true),
                      encode(kKEOEncodePortable, picture, w, h, true));
        }
    }
}

// A 256x256 picture of 4096 blocks, each drawn from one of several kinds
// so that every path through the block encoder is taken many times.
TEST(EncodePaths, BlocksOfEveryKindEncodeAlike) {
    SKIP_WITHOUT_SSE2();
    const int w = 256, h = 256;
    std::vector<unsigned char> picture(static_cast<size_t>(w) * h * 4);
    std::mt19937 rng(99);
    auto byte = [&](int lo, int hi) {
        return static_cast<unsigned char>(lo + rng() % (hi - lo + 1));
    };
    for (int by = 0; by < h / 4; ++by)
        for (int bx = 0; bx < w / 4; ++bx) {
            const int kind = static_cast<int>(rng() % 7);
            unsigned char base[4] = {byte(0, 255), byte(0, 255), byte(0, 255), byte(0, 255)};
            unsigned char other[4] = {byte(0, 255), byte(0, 255), byte(0, 255), byte(0, 255)};
            for (int k = 0; k < 16; ++k) {
                unsigned char* p =
                    &picture[(static_cast<size_t>(by * 4 + k / 4) * w + bx * 4 + k % 4) * 4];
                for (int c = 0; c < 4; ++c) {
                    int v = base[c];
                    switch (kind) {
                    case 0: // constant, alpha included
                        break;
                    case 1: // alpha alone varies: not constant, yet one colour
                        v = c == 0 ? byte(0, 255) : base[c];
                        break;
                    case 2: // spread below the axis threshold
                        v = std::min(255, base[c] + static_cast<int>(rng() % 2));
                        break;
                    case 3: // two colours
                        v = (rng() % 2) ? base[c] : other[c];
                        break;
                    case 4: // one channel ramps, the others stay
                        v = c == 2 ? k * 16 : base[c];
                        break;
                    case 5: // a few grey levels, clamped at both ends
                        v = c == 0 ? 255 : std::min(255, static_cast<int>(rng() % 4) * 100);
                        break;
                    default:
                        v = byte(0, 255);
                    }
                    p[c] = static_cast<unsigned char>(v);
                }
            }
        }
    EXPECT_EQ(encode(kKEOEncodeSSE2, picture, w, h), encode(kKEOEncodePortable, picture, w, h));
}

TEST(EncodePaths, APortableBuildStillEncodes) {
    EXPECT_TRUE(KEOEncodePathAvailable(kKEOEncodePortable));
    const auto picture = encode_test::naturalPicture(8, 8, 1);
    EXPECT_EQ(encode(kKEOEncodePortable, picture, 8, 8).size(), 40u);
}

} // namespace
