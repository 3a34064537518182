// The still readers: every PNG colour type and depth, TIFF of 8 and 16 bits
// in one or separate planes, JPEG, and files that are not pictures.
#include "Stills.h"
#include "TempFolder.h"
#include "libkeo/Failure.h"
#include "tools/StillWriters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <png.h>
#include <string>
#include <tiffio.h>
#include <unistd.h>

using namespace keo::tool;
using namespace keo::lib;

namespace {

class StillsTest : public TempFolder {
protected:
    // Exact: every sample as the writer meant it.
    void expectSame(const std::string& path, const std::vector<uint8_t>& want, int w, int h) {
        ASSERT_FALSE(want.empty()) << "could not write " << path;
        RgbaPicture pic = readStill(path);
        ASSERT_EQ(pic.width, w) << path;
        ASSERT_EQ(pic.height, h) << path;
        ASSERT_EQ(pic.rgba.size(), want.size()) << path;
        for (size_t i = 0; i < want.size(); ++i)
            ASSERT_EQ(pic.rgba[i], want[i]) << path << " sample " << i;
    }
};

constexpr int kW = 37, kH = 21; // odd sizes, so no row is a multiple of anything

TEST_F(StillsTest, EveryPngColourTypeAndDepthReadsExactly) {
    struct Case {
        const char* name;
        int colorType, depth;
    } cases[] = {
        {"grey1", PNG_COLOR_TYPE_GRAY, 1},          {"grey2", PNG_COLOR_TYPE_GRAY, 2},
        {"grey4", PNG_COLOR_TYPE_GRAY, 4},          {"grey8", PNG_COLOR_TYPE_GRAY, 8},
        {"grey16", PNG_COLOR_TYPE_GRAY, 16},        {"greyA8", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
        {"greyA16", PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {"rgb8", PNG_COLOR_TYPE_RGB, 8},
        {"rgb16", PNG_COLOR_TYPE_RGB, 16},          {"rgba8", PNG_COLOR_TYPE_RGBA, 8},
        {"rgba16", PNG_COLOR_TYPE_RGBA, 16},        {"palette2", PNG_COLOR_TYPE_PALETTE, 2},
        {"palette8", PNG_COLOR_TYPE_PALETTE, 8},
    };
    for (const Case& c : cases) {
        std::string path = file(std::string(c.name) + ".png");
        expectSame(path, keotest::writePng(path, kW, kH, c.colorType, c.depth), kW, kH);
    }
}

TEST_F(StillsTest, SixteenBitsAreScaledWithRoundingNotMadeBrighter) {
    // The same picture at 8 and 16 bits must read the same; a reader that
    // applied a gamma curve to 16-bit samples reads tens of levels apart.
    std::string p8 = file("a8.png"), p16 = file("a16.png");
    keotest::writePng(p8, kW, kH, PNG_COLOR_TYPE_RGB, 8);
    keotest::writePng(p16, kW, kH, PNG_COLOR_TYPE_RGB, 16);
    EXPECT_EQ(readStill(p8).rgba, readStill(p16).rgba);
}

TEST_F(StillsTest, TiffOfEightAndSixteenBitsInOneOrSeparatePlanes) {
    for (int samples : {1, 2, 3, 4})
        for (int bits : {8, 16})
            for (bool planar : {false, true}) {
                std::string path = file("t" + std::to_string(samples) + "_" + std::to_string(bits) +
                                        (planar ? "p" : "c") + ".tif");
                expectSame(path, keotest::writeTiff(path, kW, kH, samples, bits, planar), kW, kH);
            }
}

TEST_F(StillsTest, JpegIsCloseToWhatWasEncoded) {
    for (bool grey : {false, true}) {
        std::string path = file(grey ? "g.jpg" : "c.jpg");
        std::vector<uint8_t> want = keotest::writeJpeg(path, kW, kH, grey);
        RgbaPicture pic = readStill(path);
        ASSERT_EQ(pic.width, kW);
        ASSERT_EQ(pic.rgba.size(), want.size());
        double error = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            if (i % 4 == 3) {
                EXPECT_EQ(pic.rgba[i], 255);
            }
            error += std::abs(pic.rgba[i] - want[i]);
        }
        EXPECT_LT(error / want.size(), 6.0) << path;
    }
}

TEST_F(StillsTest, WhatIsNotAPictureIsRefusedByName) {
    std::string empty = file("empty.png"), text = file("text.png"), cut = file("cut.png");
    std::ofstream(empty).close();
    std::ofstream(text) << "not a picture at all";
    std::string whole = file("whole.png");
    keotest::writePng(whole, kW, kH, PNG_COLOR_TYPE_RGB, 8);
    {
        std::ifstream in(whole, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    }
    for (const std::string& path : {empty, text, cut, dir + "/missing.png"}) {
        try {
            readStill(path);
            ADD_FAILURE() << path << " was read";
        } catch (const Failure& f) {
            EXPECT_NE(std::string(f.what()).find(path), std::string::npos) << f.what();
        }
    }
}

using Bytes = std::string;

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(StillsTest, AStillWhoseDataIsCutOrDamagedIsRefusedWhole) {
    // Each library goes on past these with a warning, or leaves what it
    // lost blank; the picture would reach the movie with a grey or black
    // part. Each must be refused by name.
    const std::string jpegPath = file("whole.jpg");
    keotest::writeJpeg(jpegPath, kW, kH, false);
    const Bytes jpeg = readBytes(jpegPath);
    const size_t scan = jpeg.find("\xFF\xDA");
    ASSERT_NE(scan, Bytes::npos);
    // Scan data of all one bits (0xFF is stuffed as 0xFF 0x00): no Huffman
    // table has a code of ones only.
    Bytes badCode = jpeg;
    for (size_t i = scan + 40; i < scan + 60; i += 2)
        badCode.replace(i, 2, Bytes("\xFF\0", 2));
    // A picture taller than its header says: the rows of a 21-row PNG
    // behind the header of a 20-row one.
    const std::string tall = file("tall.png"), short20 = file("short.png");
    keotest::writePng(tall, kW, kH, PNG_COLOR_TYPE_RGB, 8);
    keotest::writePng(short20, kW, kH - 1, PNG_COLOR_TYPE_RGB, 8);
    const Bytes tooMuch = readBytes(short20).substr(0, 33) + readBytes(tall).substr(33);
    // TIFFs with 200 bytes of their strips (which libtiff writes before the
    // directory) set to 0x7F, to PackBits the start of a run longer than a
    // row. Bottom row first goes through libtiff's RGBA reader.
    auto damagedTiff = [this](const char* name, int compression, int orientation) {
        keotest::writeTiff(file(name), kW, kH, 3, 8, false, compression, orientation);
        Bytes b = readBytes(file(name));
        const uint32_t directory = static_cast<uint8_t>(b[4]) | static_cast<uint8_t>(b[5]) << 8;
        return b.replace(8 + (directory - 8) / 3, 200, Bytes(200, '\x7F'));
    };
    struct Case {
        const char* name;
        Bytes bytes;
        const char* says;
    } cases[] = {
        {"cut.jpg", jpeg.substr(0, scan + (jpeg.size() - scan) / 2), "Premature end"},
        {"stray.jpg", jpeg.substr(0, scan) + "abc" + jpeg.substr(scan), "extraneous bytes"},
        {"bad-code.jpg", badCode, "Corrupt JPEG data"},
        {"too-much.png", tooMuch, "Too much image data"},
        {"packbits-overrun.tif", damagedTiff("p.tif", COMPRESSION_PACKBITS, 1),
         "damaged or cut short"},
        {"deflate-bottom-up.tif", damagedTiff("d.tif", COMPRESSION_ADOBE_DEFLATE, 4),
         "damaged or cut short"},
    };
    for (const Case& c : cases) {
        const std::string path = file(c.name);
        std::ofstream(path, std::ios::binary) << c.bytes;
        try {
            readStill(path);
            ADD_FAILURE() << c.name << " was read";
        } catch (const Failure& f) {
            EXPECT_NE(std::string(f.what()).find(path + ": "), std::string::npos) << f.what();
            EXPECT_NE(std::string(f.what()).find(c.says), std::string::npos) << f.what();
        }
    }
    // What only the file's extras lose is no reason to refuse: a text chunk
    // with a wrong checksum.
    const Bytes png = readBytes(tall);
    const Bytes text = Bytes("\0\0\0\x05tEXtAb\0cdXXXX", 17);
    const std::string withText = file("text.png");
    std::ofstream(withText, std::ios::binary) << png.substr(0, 33) + text + png.substr(33);
    EXPECT_EQ(readStill(withText).rgba, readStill(tall).rgba);
}

} // namespace
