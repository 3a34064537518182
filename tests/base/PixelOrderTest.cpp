// The pixel conversions: every source and target layout, both paths, held
// against a reference written from the layouts' definitions, at row widths
// that leave every count of pixels after the last whole step of four, with
// padded rows and flipped ones; the alpha rule and the luma at every value
// they can meet; and the callers' worked examples.
#include "base/PixelOrder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using keo::PixelAlpha;
using keo::PixelConversion;
using keo::PixelLayout;
using keo::PixelPath;
using keo::RowOrder;

// The layouts as their names spell them, in the enum's order; Gray, a
// target only, is the luma.
const char* const kSpelling[] = {"ARGB", "RGBA", "BGRA", "RGB", "BGR"};

// What source pixel `p` becomes by the layouts' definitions: a missing
// alpha reads 255, OntoBlack lays the pixel over black first.
std::vector<uint8_t> reference(const PixelConversion& how, const uint8_t* p) {
    const std::string rgba = "RGBA", from = kSpelling[int(how.from)];
    int c[4];
    for (int k = 0; k < 4; ++k)
        c[k] = from.find(rgba[k]) == std::string::npos ? 255 : p[from.find(rgba[k])];
    if (how.alpha == PixelAlpha::OntoBlack) {
        for (int k = 0; k < 3; ++k)
            c[k] = (c[k] * c[3] + 127) / 255;
        c[3] = 255;
    }
    if (how.to == PixelLayout::Gray)
        return {uint8_t((19595 * c[0] + 38470 * c[1] + 7471 * c[2] + 32768) >> 16)};
    std::vector<uint8_t> out;
    for (char channel : std::string(kSpelling[int(how.to)]))
        out.push_back(uint8_t(c[rgba.find(channel)]));
    return out;
}

const PixelPath kPaths[] = {PixelPath::Portable, PixelPath::SSSE3};

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return bytes;
}

// One conversion of `src`, `height` rows of `width` pixels with `padding`
// bytes after each row, into rows padded as much: each target pixel must be
// its source pixel by the reference, and the padding after each target row
// must keep its bytes. Where it may, the same conversion in place too.
void checkConversion(PixelPath path, const PixelConversion& how, const std::vector<uint8_t>& src,
                     int width, int height, size_t padding) {
    const int sb = keo::pixelBytes(how.from), tb = keo::pixelBytes(how.to);
    const size_t srcPitch = size_t(width) * sb + padding;
    const size_t dstPitch = size_t(width) * tb + padding;
    std::vector<uint8_t> dst(dstPitch * height, 0xEE);
    ASSERT_TRUE(
        keo::convertPixels(how, src.data(), srcPitch, dst.data(), dstPitch, width, height, path));
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = &dst[(how.rows == RowOrder::Flipped ? height - 1 - y : y) * dstPitch];
        for (int x = 0; x < width; ++x) {
            const auto want = reference(how, &src[y * srcPitch + x * sb]);
            ASSERT_EQ(0, std::memcmp(want.data(), row + x * tb, tb))
                << "path " << int(path) << ", layouts " << int(how.from) << " to " << int(how.to)
                << ", alpha " << int(how.alpha) << ", width " << width << ", pixel " << x << ","
                << y;
        }
        for (size_t i = size_t(width) * tb; i < dstPitch; ++i)
            ASSERT_EQ(row[i], 0xEE) << "padding of row " << y;
    }
    // keodec and the Python module reorder the decoder's frame where it
    // lies: a target no wider than its source, converted over it, must be
    // what the copy got.
    if (tb > sb || how.rows == RowOrder::Flipped || how.alpha != PixelAlpha::Keep)
        return;
    auto over = src;
    ASSERT_TRUE(
        keo::convertPixels(how, over.data(), srcPitch, over.data(), srcPitch, width, height, path));
    for (int y = 0; y < height; ++y)
        ASSERT_EQ(0, std::memcmp(&over[y * srcPitch], &dst[y * dstPitch], size_t(width) * tb))
            << "in place: layouts " << int(how.from) << " to " << int(how.to) << ", width "
            << width;
}

// Every pair of layouts, both alpha rules and row orders, at widths of 1 to
// 3 pixels (all tail), 4 and 8 (whole steps) and the rest (both), with
// packed rows and with rows 3 bytes longer (an odd pitch), 3 rows of noise.
TEST(PixelOrder, EveryConversionMatchesTheReferenceOnBothPaths) {
    for (PixelPath path : kPaths) {
        if (!keo::pixelPathAvailable(path))
            continue;
        for (int from = 0; from < 5; ++from)
            for (int to = 0; to < 6; ++to)
                for (PixelAlpha alpha : {PixelAlpha::Keep, PixelAlpha::OntoBlack})
                    for (RowOrder rows : {RowOrder::Same, RowOrder::Flipped})
                        for (int width : {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 37})
                            for (size_t padding : {0, 3}) {
                                const PixelConversion how{PixelLayout(from), PixelLayout(to), rows,
                                                          alpha};
                                const size_t n = (width * keo::pixelBytes(how.from) + padding) * 3;
                                checkConversion(path, how, noise(n, width * 31 + from), width, 3,
                                                padding);
                                if (HasFatalFailure())
                                    return;
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
        checkConversion(
            path, {PixelLayout::RGBA, PixelLayout::RGBA, RowOrder::Same, PixelAlpha::OntoBlack},
            rgba, 256, 256, 0);
        checkConversion(path, {PixelLayout::RGBA, PixelLayout::Gray}, rgba, 256, 256, 0);
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
    const PixelConversion swap{PixelLayout::ARGB, PixelLayout::RGBA};
    EXPECT_FALSE(keo::convertPixels({PixelLayout::Gray, PixelLayout::RGBA}, src, 4, dst, 16, 4, 4));
    EXPECT_FALSE(keo::convertPixels(swap, src, 16, dst, 16, -1, 4));
    EXPECT_FALSE(keo::convertPixels(swap, src, 16, dst, 16, 4, -1));
    EXPECT_TRUE(keo::convertPixels(swap, src, 16, dst, 16, 0, 4));
    if (!keo::pixelPathAvailable(PixelPath::SSSE3)) {
        EXPECT_FALSE(keo::convertPixels(swap, src, 16, dst, 16, 4, 4, PixelPath::SSSE3));
    }
    for (uint8_t b : dst)
        ASSERT_EQ(b, 0xEE);
}

} // namespace
