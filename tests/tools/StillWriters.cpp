// Writers of test pictures.
#include "StillWriters.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <tiffio.h>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace keotest {
namespace {

uint16_t widen(uint8_t v, int x, int y) {
    int d = ((x * 37 + y * 91) % 256) - 128;
    int w = v * 257 + d;
    return static_cast<uint16_t>(w < 0 ? 0 : w > 65535 ? 65535 : w);
}

uint8_t greyOf(const uint8_t* p) {
    return static_cast<uint8_t>((p[0] * 3 + p[1] * 5 + p[2] * 2) / 10);
}

} // namespace

std::vector<uint8_t> stillReference(int width, int height, bool alpha) {
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
            p[1] = static_cast<uint8_t>(y * 255 / (height > 1 ? height - 1 : 1));
            p[2] = static_cast<uint8_t>((x * 7 + y * 13) & 255);
            p[3] = alpha ? static_cast<uint8_t>(255 - ((x + y) * 5 & 255)) : 255;
        }
    return rgba;
}

std::vector<uint8_t> writePng(const std::string& path, int width, int height, int colorType,
                              int bitDepth) {
    const bool hasAlpha = colorType & PNG_COLOR_MASK_ALPHA;
    const bool grey = !(colorType & PNG_COLOR_MASK_COLOR);
    const bool palette = colorType == PNG_COLOR_TYPE_PALETTE;
    std::vector<uint8_t> want = stillReference(width, height, hasAlpha);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return {};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return {};
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, bitDepth, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> colours;
    if (palette) {
        // Four colours, the last one half transparent through tRNS.
        colours = {{0, 0, 0}, {255, 0, 0}, {0, 128, 255}, {250, 250, 250}};
        png_set_PLTE(png, info, colours.data(), 4);
        png_byte trns[4] = {255, 255, 255, 128};
        png_set_tRNS(png, info, trns, 4, nullptr);
    }
    png_write_info(png, info);
    const int channels = palette ? 1 : (grey ? 1 : 3) + (hasAlpha ? 1 : 0);
    const int maxValue = (1 << bitDepth) - 1;
    std::vector<uint8_t> row(static_cast<size_t>(width) * channels * 2 + 8);
    for (int y = 0; y < height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &want[(static_cast<size_t>(y) * width + x) * 4];
            int values[4];
            int n = 0;
            if (palette) {
                int index = (x + y) % 4;
                values[n++] = index;
                p[0] = colours[index].red;
                p[1] = colours[index].green;
                p[2] = colours[index].blue;
                p[3] = index == 3 ? 128 : 255;
            } else if (grey) {
                uint8_t g = greyOf(p);
                if (bitDepth < 8) {
                    // Low depths keep the top bits; the reader spreads them
                    // over 0..255 exactly (v x 255 / max).
                    int v = g >> (8 - bitDepth);
                    g = static_cast<uint8_t>(v * 255 / maxValue);
                    values[n++] = v;
                } else {
                    values[n++] = bitDepth == 16 ? widen(g, x, y) : g;
                }
                p[0] = p[1] = p[2] = g;
                if (hasAlpha)
                    values[n++] = bitDepth == 16 ? widen(p[3], x, y) : p[3];
            } else {
                for (int c = 0; c < 3 + (hasAlpha ? 1 : 0); ++c)
                    values[n++] = bitDepth == 16 ? widen(p[c], x, y) : p[c];
            }
            for (int c = 0; c < n; ++c) {
                size_t sample = static_cast<size_t>(x) * channels + c;
                if (bitDepth == 16) {
                    row[sample * 2] = static_cast<uint8_t>(values[c] >> 8);
                    row[sample * 2 + 1] = static_cast<uint8_t>(values[c]);
                } else if (bitDepth == 8) {
                    row[sample] = static_cast<uint8_t>(values[c]);
                } else {
                    size_t bit = sample * bitDepth;
                    row[bit / 8] |= static_cast<uint8_t>(values[c] << (8 - bitDepth - bit % 8));
                }
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return want;
}

std::vector<uint8_t> writeTiff(const std::string& path, int width, int height, int samples,
                               int bits, bool planar, int compression, int orientation) {
    const bool grey = samples <= 2;
    const bool alpha = samples == 2 || samples == 4;
    std::vector<uint8_t> want = stillReference(width, height, alpha);
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t)
        return {};
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 4);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_ORIENTATION, orientation);
    if (alpha) {
        uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    const int planes = planar ? samples : 1;
    const int perRow = planar ? 1 : samples;
    std::vector<uint8_t> row(static_cast<size_t>(width) * perRow * bits / 8);
    bool ok = true;
    for (int plane = 0; plane < planes && ok; ++plane)
        for (int y = 0; y < height && ok; ++y) {
            for (int x = 0; x < width; ++x) {
                uint8_t* p = &want[(static_cast<size_t>(y) * width + x) * 4];
                if (grey)
                    p[0] = p[1] = p[2] = greyOf(p);
                for (int k = 0; k < perRow; ++k) {
                    int s = planar ? plane : k;
                    uint8_t v = grey ? (s == 0 ? p[0] : p[3]) : p[s];
                    size_t at = static_cast<size_t>(x) * perRow + k;
                    if (bits == 16) {
                        uint16_t w = widen(v, x, y);
                        std::memcpy(&row[at * 2], &w, 2);
                    } else {
                        row[at] = v;
                    }
                }
            }
            ok = TIFFWriteScanline(t, row.data(), y, static_cast<uint16_t>(plane)) >= 0;
        }
    TIFFClose(t);
    return ok ? want : std::vector<uint8_t>();
}

std::vector<uint8_t> writeJpeg(const std::string& path, int width, int height, bool grey) {
    std::vector<uint8_t> want = stillReference(width, height, false);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return {};
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, f);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = grey ? 1 : 4;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_RGBA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &want[(static_cast<size_t>(y) * width + x) * 4];
            if (grey) {
                p[0] = p[1] = p[2] = greyOf(p);
                row[x] = p[0];
            } else {
                std::memcpy(&row[static_cast<size_t>(x) * 4], p, 4);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(f);
    return want;
}

} // namespace keotest
