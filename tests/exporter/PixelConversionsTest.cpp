// The float pixel conversions: exact values, clamping, strides, and the v410
// round trip within half a code step.
#include "exporter/PixelConversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

using keo::exporter::max;
using keo::exporter::min;

// Buffers start one byte off a float boundary: the conversions take char
// pointers and must not rely on alignment.
struct Unaligned {
    explicit Unaligned(size_t bytes, unsigned char fill = 0x5A) : storage(bytes + 1, fill) {}
    char* data() { return reinterpret_cast<char*>(storage.data() + 1); }
    std::vector<unsigned char> storage;
};

void putFloats(char* p, std::initializer_list<float> values) {
    for (float v : values) {
        std::memcpy(p, &v, 4);
        p += 4;
    }
}

float floatAt(const char* p, int index) {
    float v;
    std::memcpy(&v, p + index * 4, 4);
    return v;
}

uint32_t wordAt(const char* p, int index) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p) + index * 4;
    return u[0] | (u[1] << 8) | (u[2] << 16) | (static_cast<uint32_t>(u[3]) << 24);
}

uint32_t v410(uint32_t v, uint32_t y, uint32_t u) {
    return (v << 2) | (y << 12) | (u << 22);
}

TEST(MaxMin, PickLargerAndSmallerAndClampNaNToTheLowBound) {
    EXPECT_EQ(max(1.5f, -2.0f), 1.5f);
    EXPECT_EQ(max(-2.0f, 1.5f), 1.5f);
    EXPECT_EQ(min(1.5f, -2.0f), -2.0f);
    EXPECT_EQ(min(-2.0f, 1.5f), -2.0f);
    EXPECT_EQ(min(max(std::nanf(""), 64.0f), 960.0f), 64.0f);
}

TEST(ConvertFrom8uTo32f, EveryByteOverTwoFiftyFiveWithFloatStride) {
    const unsigned char bytes[8] = {0, 255, 51, 128, 200, 1, 254, 17};
    Unaligned src(8), dst(32);
    std::memcpy(src.data(), bytes, 8);
    ConvertFrom8uTo32f(src.data(), dst.data(), 2, 1);
    for (int i = 0; i < 8; ++i)
        EXPECT_FLOAT_EQ(floatAt(dst.data(), i), bytes[i] / 255.0f) << i;
    // Bytes above 127 must not turn negative through a signed char.
    EXPECT_FLOAT_EQ(floatAt(dst.data(), 1), 1.0f);
}

TEST(ConvertFrom8uTo32f, RowsAreWalkedAndEmptyPicturesTouchNothing) {
    Unaligned src(2 * 3 * 4), dst(2 * 3 * 16 + 16, 0x77);
    for (int i = 0; i < 24; ++i)
        src.data()[i] = static_cast<char>(i * 10);
    ConvertFrom8uTo32f(src.data(), dst.data(), 2, 3);
    EXPECT_FLOAT_EQ(floatAt(dst.data(), 23), 230 / 255.0f);
    // Nothing past the last pixel.
    EXPECT_EQ(static_cast<unsigned char>(dst.data()[96]), 0x77);

    Unaligned untouched(64, 0x77);
    ConvertFrom8uTo32f(src.data(), untouched.data(), 2, 0);
    ConvertFrom8uTo32f(src.data(), untouched.data(), 2, -1);
    for (size_t i = 1; i < untouched.storage.size(); ++i)
        ASSERT_EQ(untouched.storage[i], 0x77);
}

TEST(ConvertFromBGRA32fToVUYA32f, PrimariesAndWhiteInPlaceAlphaKept) {
    Unaligned pic(4 * 16);
    putFloats(pic.data(), {1, 1, 1, 0.25f,  // white
                           0, 0, 1, 0.5f,   // red
                           0, 1, 0, 0.75f,  // green
                           1, 0, 0, 1.0f}); // blue
    ConvertFromBGRA32fToVUYA32f(pic.data(), 2, 2);
    const float expected[4][4] = {{0, 0, 1, 0.25f},
                                  {0.5f, -0.168736f, 0.299f, 0.5f},
                                  {-0.418688f, -0.331264f, 0.587f, 0.75f},
                                  {-0.081312f, 0.5f, 0.114f, 1.0f}};
    for (int p = 0; p < 4; ++p)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(floatAt(pic.data(), p * 4 + c), expected[p][c], 1e-6) << p << "," << c;
}

TEST(ConvertFrom32fToV410, RoundsClampsAndPacksLittleEndian) {
    Unaligned src(7 * 16), dst(7 * 4);
    putFloats(src.data(), {0,
                           0,
                           0,
                           1, // black: 512, 64, 512
                           0.5f,
                           -0.5f,
                           1,
                           1, // 960.5 -> 960, 64.5 -> 64, 940.5 -> 940
                           2,
                           -2,
                           5,
                           1, // far out of range
                           -0.5f,
                           0.5f,
                           -1,
                           1, // 64, 960, below black
                           std::nanf(""),
                           0,
                           0,
                           1, // NaN lands on the low bound
                           0.1f,
                           0.2f,
                           0.5f,
                           0, // 602.1 -> 602, 691.7 -> 691, 502.5 -> 502
                           0,
                           0,
                           0.0005f,
                           1}); // 64.938 truncates to 64
    ConvertFrom32fToV410(src.data(), dst.data(), 7, 1);
    EXPECT_EQ(wordAt(dst.data(), 0), v410(512, 64, 512));
    EXPECT_EQ(wordAt(dst.data(), 0), 0x80040800u);
    EXPECT_EQ(static_cast<unsigned char>(dst.data()[0]), 0x00);
    EXPECT_EQ(static_cast<unsigned char>(dst.data()[1]), 0x08);
    EXPECT_EQ(static_cast<unsigned char>(dst.data()[3]), 0x80);
    EXPECT_EQ(wordAt(dst.data(), 1), v410(960, 940, 64));
    EXPECT_EQ(wordAt(dst.data(), 2), v410(960, 940, 64));
    EXPECT_EQ(wordAt(dst.data(), 3), v410(64, 64, 960));
    EXPECT_EQ(wordAt(dst.data(), 4), v410(64, 64, 512));
    EXPECT_EQ(wordAt(dst.data(), 5), v410(602, 502, 691));
    EXPECT_EQ(wordAt(dst.data(), 6), v410(512, 64, 512));
}

TEST(ConvertFromV410To32f, UnpacksFieldsIgnoresLowBitsAndSetsOpaque) {
    Unaligned src(3 * 4), dst(3 * 16);
    const uint32_t words[3] = {v410(960, 940, 64), v410(512, 64, 512) | 3u, v410(64, 502, 960)};
    for (int i = 0; i < 3; ++i)
        for (int b = 0; b < 4; ++b)
            src.data()[i * 4 + b] = static_cast<char>(words[i] >> (8 * b));
    ConvertFromV410To32f(src.data(), dst.data(), 1, 3);
    const float expected[3][4] = {{0.5f, -0.5f, 1, 1}, {0, 0, 0, 1}, {-0.5f, 0.5f, 0.5f, 1}};
    for (int p = 0; p < 3; ++p)
        for (int c = 0; c < 4; ++c)
            EXPECT_FLOAT_EQ(floatAt(dst.data(), p * 4 + c), expected[p][c]) << p << "," << c;
}

TEST(V410RoundTrip, EveryValueInRangeComesBackWithinHalfAStep) {
    const int width = 37, height = 11, n = width * height;
    std::mt19937 random(20240611);
    std::uniform_real_distribution<float> chroma(-0.5f, 0.5f), luma(0.0f, 1.0f);
    Unaligned src(n * 16), words(n * 4), back(n * 16);
    for (int i = 0; i < n; ++i)
        putFloats(src.data() + i * 16, {chroma(random), chroma(random), luma(random), 1});
    ConvertFrom32fToV410(src.data(), words.data(), width, height);
    ConvertFromV410To32f(words.data(), back.data(), width, height);
    const float steps[3] = {1 / 896.0f, 1 / 896.0f, 1 / 876.0f};
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c)
            ASSERT_LE(std::fabs(floatAt(back.data(), i * 4 + c) - floatAt(src.data(), i * 4 + c)),
                      steps[c] / 2 + 1e-6f)
                << "pixel " << i << " component " << c;
}

} // namespace
