// The pixel conversions: every source and target layout, both paths, held
// against a reference written from the layouts' definitions, at row widths
// that leave every count of pixels after the last whole step of four, with
// padded rows and flipped ones; the alpha rule and the luma at every value
// they can meet; and the callers' worked examples.
#include "base/PixelOrder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using keo::PixelAlpha;
using keo::PixelConversion;
using keo::PixelLayout;
using keo::PixelPath;
using keo::RowOrder;

struct Colour {
    int r, g, b, a;
};

// The layouts as their names spell them.
Colour readPixel(PixelLayout layout, const uint8_t* p) {
    switch (layout) {
    case PixelLayout::ARGB:
        return {p[1], p[2], p[3], p[0]};
    case PixelLayout::RGBA:
        return {p[0], p[1], p[2], p[3]};
    case PixelLayout::BGRA:
        return {p[2], p[1], p[0], p[3]};
    case PixelLayout::RGB:
        return {p[0], p[1], p[2], 255};
    case PixelLayout::BGR:
        return {p[2], p[1], p[0], 255};
    case PixelLayout::Gray:
        break;
    }
    ADD_FAILURE() << "no gray sources";
    return {};
}

std::vector<uint8_t> pixelBytesOf(PixelLayout layout, Colour c) {
    switch (layout) {
    case PixelLayout::ARGB:
        return {uint8_t(c.a), uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)};
    case PixelLayout::RGBA:
        return {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b), uint8_t(c.a)};
    case PixelLayout::BGRA:
        return {uint8_t(c.b), uint8_t(c.g), uint8_t(c.r), uint8_t(c.a)};
    case PixelLayout::RGB:
        return {uint8_t(c.r), uint8_t(c.g), uint8_t(c.b)};
    case PixelLayout::BGR:
        return {uint8_t(c.b), uint8_t(c.g), uint8_t(c.r)};
    case PixelLayout::Gray:
        return {uint8_t((19595 * c.r + 38470 * c.g + 7471 * c.b + 32768) >> 16)};
    }
    return {};
}

Colour reference(PixelAlpha alpha, Colour c) {
    if (alpha == PixelAlpha::OntoBlack)
        return {(c.r * c.a + 127) / 255, (c.g * c.a + 127) / 255, (c.b * c.a + 127) / 255, 255};
    return c;
}

const PixelLayout kSources[] = {PixelLayout::ARGB, PixelLayout::RGBA, PixelLayout::BGRA,
                                PixelLayout::RGB, PixelLayout::BGR};
const PixelLayout kTargets[] = {PixelLayout::ARGB, PixelLayout::RGBA, PixelLayout::BGRA,
                                PixelLayout::RGB,  PixelLayout::BGR,  PixelLayout::Gray};
// 1 to 3 pixels are all tail; 4 and 8 whole steps; the rest both.
const int kWidths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 37};
const PixelPath kPaths[] = {PixelPath::Portable, PixelPath::SSSE3};

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return bytes;
}

// One conversion of a 3-row picture of noise, with `padding` bytes after
// each row of both pictures: each target pixel must be its source pixel by
// the reference, and the padding after each target row must keep its bytes.
void checkConversion(PixelPath path, const PixelConversion& how, int width, size_t padding) {
    const int height = 3;
    const int sb = keo::pixelBytes(how.from), tb = keo::pixelBytes(how.to);
    const size_t srcPitch = size_t(width) * sb + padding;
    const size_t dstPitch = size_t(width) * tb + padding;
    const auto src = noise(srcPitch * height, width * 31 + sb);
    std::vector<uint8_t> dst(dstPitch * height, 0xEE);
    ASSERT_TRUE(
        keo::convertPixels(how, src.data(), srcPitch, dst.data(), dstPitch, width, height, path));
    for (int y = 0; y < height; ++y) {
        const int ty = how.rows == RowOrder::Flipped ? height - 1 - y : y;
        for (int x = 0; x < width; ++x) {
            const Colour c = readPixel(how.from, &src[y * srcPitch + x * sb]);
            const auto want = pixelBytesOf(how.to, reference(how.alpha, c));
            ASSERT_EQ(0, std::memcmp(want.data(), &dst[ty * dstPitch + x * tb], tb))
                << "path " << int(path) << ", layouts " << int(how.from) << " to " << int(how.to)
                << ", alpha " << int(how.alpha) << ", width " << width << ", pixel " << x << ","
                << y;
        }
        for (size_t i = size_t(width) * tb; i < dstPitch; ++i)
            ASSERT_EQ(dst[ty * dstPitch + i], 0xEE) << "padding of row " << ty;
    }
}

// Every pair of layouts, both alpha rules and row orders, each width, with
// packed rows and with rows 3 bytes longer (an odd pitch).
TEST(PixelOrder, EveryConversionMatchesTheReferenceOnBothPaths) {
    for (PixelPath path : kPaths) {
        if (!keo::pixelPathAvailable(path))
            continue;
        for (PixelLayout from : kSources)
            for (PixelLayout to : kTargets)
                for (PixelAlpha alpha : {PixelAlpha::Keep, PixelAlpha::OntoBlack})
                    for (RowOrder rows : {RowOrder::Same, RowOrder::Flipped})
                        for (int width : kWidths)
                            for (size_t padding : {0, 3}) {
                                checkConversion(path, {from, to, rows, alpha}, width, padding);
                                if (HasFatalFailure())
                                    return;
                            }
    }
}

// keodec and the Python module reorder the decoder's frame where it lies;
// a target no wider than its source may be converted over it.
TEST(PixelOrder, InPlaceGivesWhatACopyGives) {
    for (PixelPath path : kPaths) {
        if (!keo::pixelPathAvailable(path))
            continue;
        for (PixelLayout from : kSources)
            for (PixelLayout to : kTargets) {
                if (keo::pixelBytes(to) > keo::pixelBytes(from))
                    continue;
                const int width = 13, height = 2;
                const size_t pitch = size_t(width) * keo::pixelBytes(from) + 5;
                auto picture = noise(pitch * height, 7);
                std::vector<uint8_t> copy(picture.size(), 0);
                const PixelConversion how{from, to};
                ASSERT_TRUE(keo::convertPixels(how, picture.data(), pitch, copy.data(), pitch,
                                               width, height, path));
                ASSERT_TRUE(keo::convertPixels(how, picture.data(), pitch, picture.data(), pitch,
                                               width, height, path));
                const size_t used = size_t(width) * keo::pixelBytes(to);
                for (int y = 0; y < height; ++y)
                    ASSERT_EQ(0, std::memcmp(&picture[y * pitch], &copy[y * pitch], used))
                        << int(from) << " to " << int(to) << ", path " << int(path);
            }
    }
}

// Every colour value under every alpha, so the SIMD rounding is shown
// exact where a sample of values could miss the one case it gets wrong;
// and every gray level of each primary and of their mix.
TEST(PixelOrder, OntoBlackAndLumaAreExactForEveryValue) {
    std::vector<uint8_t> rgba(256 * 256 * 4);
    for (int a = 0; a < 256; ++a)
        for (int c = 0; c < 256; ++c) {
            uint8_t* p = &rgba[(a * 256 + c) * 4];
            p[0] = uint8_t(c), p[1] = uint8_t(255 - c), p[2] = uint8_t(c ^ 0x5A), p[3] = uint8_t(a);
        }
    for (PixelPath path : kPaths) {
        if (!keo::pixelPathAvailable(path))
            continue;
        std::vector<uint8_t> out(rgba.size());
        ASSERT_TRUE(keo::convertPixels(
            {PixelLayout::RGBA, PixelLayout::RGBA, RowOrder::Same, PixelAlpha::OntoBlack},
            rgba.data(), 1024, out.data(), 1024, 256, 256, path));
        for (size_t i = 0; i < rgba.size(); i += 4)
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(out[i + k], (rgba[i + k] * rgba[i + 3] + 127) / 255) << i;
        std::vector<uint8_t> gray(256 * 256);
        ASSERT_TRUE(keo::convertPixels({PixelLayout::RGBA, PixelLayout::Gray}, rgba.data(), 1024,
                                       gray.data(), 256, 256, 256, path));
        for (size_t i = 0; i < gray.size(); ++i) {
            const uint8_t* p = &rgba[i * 4];
            ASSERT_EQ(gray[i], (19595 * p[0] + 38470 * p[1] + 7471 * p[2] + 32768) >> 16) << i;
        }
    }
}

// The host's bottom-up B, G, R, A frame becomes the encoder's top-down
// A, R, G, B picture: bottom row first in memory (1 2 3 4) (5 6 7 8), then
// the top row; padding after each host row is skipped.
TEST(PixelOrder, HostFrameBecomesTopDownARGB) {
    const uint8_t packed[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const uint8_t padded[24] = {1, 2,  3,  4,  5,  6,  7,  8,  0xEE, 0xEE, 0xEE, 0xEE,
                                9, 10, 11, 12, 13, 14, 15, 16, 0xEE, 0xEE, 0xEE, 0xEE};
    const uint8_t expected[16] = {12, 11, 10, 9, 16, 15, 14, 13, 4, 3, 2, 1, 8, 7, 6, 5};
    const PixelConversion flip{PixelLayout::BGRA, PixelLayout::ARGB, RowOrder::Flipped};
    uint8_t argb[16] = {};
    ASSERT_TRUE(keo::convertPixels(flip, packed, 8, argb, 8, 2, 2));
    EXPECT_EQ(0, std::memcmp(argb, expected, 16));
    std::memset(argb, 0, sizeof argb);
    ASSERT_TRUE(keo::convertPixels(flip, padded, 12, argb, 8, 2, 2));
    EXPECT_EQ(0, std::memcmp(argb, expected, 16));
}

// A gray source, a negative side or a path the machine lacks writes
// nothing; an empty picture is nothing to do.
TEST(PixelOrder, RefusedConversionsWriteNothing) {
    uint8_t src[64] = {}, dst[64];
    std::memset(dst, 0xEE, sizeof dst);
    EXPECT_FALSE(keo::convertPixels({PixelLayout::Gray, PixelLayout::RGBA}, src, 4, dst, 16, 4, 4));
    EXPECT_FALSE(
        keo::convertPixels({PixelLayout::ARGB, PixelLayout::RGBA}, src, 16, dst, 16, -1, 4));
    EXPECT_FALSE(
        keo::convertPixels({PixelLayout::ARGB, PixelLayout::RGBA}, src, 16, dst, 16, 4, -1));
    EXPECT_TRUE(keo::convertPixels({PixelLayout::ARGB, PixelLayout::RGBA}, src, 16, dst, 16, 0, 4));
    if (!keo::pixelPathAvailable(PixelPath::SSSE3)) {
        EXPECT_FALSE(keo::convertPixels({PixelLayout::ARGB, PixelLayout::RGBA}, src, 16, dst, 16, 4,
                                        4, PixelPath::SSSE3));
    }
    for (uint8_t b : dst)
        ASSERT_EQ(b, 0xEE);
}

} // namespace
