// PNG, TIFF and JPEG readers over libpng, libtiff and libjpeg-turbo.
//
// A still is taken whole or not at all: where a library only warns that
// data is missing or damaged and fills the rest (libjpeg's "Premature end of
// JPEG file" and "Corrupt JPEG data", libpng's benign errors about the image
// data, libtiff's strips that cannot be read), the still is refused by name,
// before any of it reaches a movie.
//
// libpng and libjpeg report errors by longjmp. Everything that lives across
// the setjmp is reached through a pointer set before it, so that nothing
// the jump skips over is left in a register; the Failure is thrown only
// after the jump has landed back in this file's own frame.
#include "Stills.h"

#include "base/PictureMemory.h"
#include "libkeo/Failure.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <png.h>
#include <tiffio.h>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
// After jpeglib.h: the codes of its warnings.
#include <jerror.h>

namespace keo::tool {
using namespace keo::lib;
namespace {

constexpr uint32_t kMaxSide = 32767;
constexpr size_t kReadBuffer = size_t(256) << 10;

[[noreturn]] void failTooLarge(const std::string& path, uint64_t w, uint64_t h) {
    fail(path, "is " + std::to_string(w) + "x" + std::to_string(h) +
                   "; pictures may have at most 32767 pixels a side");
}

// Sizes the picture's pixels for w x h. Memory that already has the size
// (a picture read before into the same one) is used as it is, not cleared
// or touched; new memory is asked for in huge pages, whose first touch
// costs a tenth of the page faults (base/PictureMemory.h).
uint8_t* pixelsFor(RgbaPicture* pic, uint32_t w, uint32_t h) {
    const size_t n = static_cast<size_t>(w) * h * 4;
    if (pic->rgba.capacity() < n) {
        std::vector<uint8_t>().swap(pic->rgba);
        pic->rgba.reserve(n);
        keo::adviseHugePages(pic->rgba.data(), n);
    }
    pic->rgba.resize(n);
    pic->width = static_cast<int>(w);
    pic->height = static_cast<int>(h);
    return pic->rgba.data();
}

uint8_t scale16(uint32_t v) {
    return static_cast<uint8_t>((v * 255 + 32767) / 65535);
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// --- PNG ---

struct PngState {
    jmp_buf jump;
    char message[256] = "";
    bool damaged = false; // stopped at a warning about the picture
    RgbaPicture* pic = nullptr;
    std::vector<png_bytep> rows;
};

extern "C" void pngError(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    longjmp(state->jump, 1);
}

// libpng names the chunk a warning is about ("tEXt: CRC error"); an
// ancillary chunk, whose type starts with a lower-case letter, is dropped
// without touching the picture. Every other warning (too much or too little
// image data, a damaged palette) is about the picture, and refuses it.
bool aboutAncillaryChunk(const char* message) {
    if (std::strlen(message) < 6 || message[4] != ':' || message[5] != ' ')
        return false;
    for (int i = 0; i < 4; ++i)
        if (!std::isalpha(static_cast<unsigned char>(message[i])))
            return false;
    return std::islower(static_cast<unsigned char>(message[0]));
}

extern "C" void pngWarning(png_structp png, png_const_charp message) {
    if (aboutAncillaryChunk(message))
        return;
    static_cast<PngState*>(png_get_error_ptr(png))->damaged = true;
    png_error(png, message);
}

void readPng(std::FILE* file, const std::string& path, RgbaPicture* pic) {
    auto state = std::make_unique<PngState>();
    state->pic = pic;
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, state.get(), pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        throw std::bad_alloc();
    }
    bool tooLarge = false;
    png_uint_32 w = 0, h = 0;
    if (setjmp(state->jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        fail(path, std::string(state->damaged ? "the PNG is damaged (" : "not a readable PNG (") +
                       state->message + ")");
    }
    png_init_io(png, file);
    png_read_info(png, info);
    w = png_get_image_width(png, info);
    h = png_get_image_height(png, info);
    tooLarge = w > kMaxSide || h > kMaxSide;
    if (!tooLarge) {
        const int colorType = png_get_color_type(png, info);
        // Palette to RGB, grey below 8 bits to 8, a transparent colour to
        // alpha; 16-bit samples scaled with rounding. No gamma call is made,
        // so the samples keep their stored values.
        png_set_expand(png);
        if (png_get_bit_depth(png, info) == 16)
            png_set_scale_16(png);
        if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
            png_set_gray_to_rgb(png);
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        if (png_get_rowbytes(png, info) != static_cast<size_t>(w) * 4)
            png_error(png, "unexpected row layout after conversion");
        uint8_t* pixels = pixelsFor(state->pic, w, h);
        state->rows.resize(h);
        for (png_uint_32 y = 0; y < h; ++y)
            state->rows[y] = pixels + static_cast<size_t>(y) * w * 4;
        png_read_image(png, state->rows.data());
        png_read_end(png, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (tooLarge)
        failTooLarge(path, w, h);
}

// --- TIFF ---

thread_local std::string t_tiffError;
// Set while the pixels are read: a warning then is about the picture's data
// (a strip that ends early, a code that does not decode); before, it is
// about tags, which the picture does not need.
thread_local bool t_tiffReadingPixels = false;

extern "C" void tiffError(const char*, const char* format, va_list args) {
    char buf[256];
    std::vsnprintf(buf, sizeof buf, format, args);
    if (t_tiffError.empty())
        t_tiffError = buf;
}

extern "C" void tiffWarning(const char* module, const char* format, va_list args) {
    if (t_tiffReadingPixels)
        tiffError(module, format, args);
}

// Marks the pixel reads of one picture, whatever way they end.
struct ReadingPixels {
    ReadingPixels() { t_tiffReadingPixels = true; }
    ~ReadingPixels() { t_tiffReadingPixels = false; }
};

struct TiffCloser {
    void operator()(TIFF* t) const {
        if (t)
            TIFFClose(t);
    }
};

[[noreturn]] void failTiff(const std::string& path, const std::string& what) {
    std::string why = t_tiffError.empty() ? what : what + " (" + t_tiffError + ")";
    fail(path, "not a readable TIFF: " + why);
}

// One sample of an 8 or 16-bit row as 8 bits.
uint8_t sampleAt(const uint8_t* row, size_t index, int bits) {
    if (bits == 8)
        return row[index];
    uint16_t v;
    std::memcpy(&v, row + index * 2, 2);
    return scale16(v);
}

// Grey or RGB of 8 or 16 bits with an optional alpha, read sample by
// sample; false when the picture is of another kind.
bool readTiffSamples(TIFF* t, const std::string& path, uint32_t w, uint32_t h, RgbaPicture* pic) {
    uint16_t bits = 1, spp = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, format = 1;
    uint16_t orientation = ORIENTATION_TOPLEFT, extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric))
        return false;
    const bool grey =
        photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const int colours = grey ? 1 : 3;
    if ((bits != 8 && bits != 16) || format != SAMPLEFORMAT_UINT ||
        orientation != ORIENTATION_TOPLEFT || (!grey && photometric != PHOTOMETRIC_RGB) ||
        spp < colours || TIFFIsTiled(t))
        return false;
    const bool alpha = spp > colours && extraCount > 0 && extra &&
                       (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
    const bool associated = alpha && extra[0] == EXTRASAMPLE_ASSOCALPHA;
    const int bytes = bits / 8;
    const size_t line = static_cast<size_t>(TIFFScanlineSize(t));
    const bool contig = planar == PLANARCONFIG_CONTIG;
    if (line < static_cast<size_t>(w) * bytes * (contig ? spp : 1))
        return false;
    const int planes = contig ? 1 : colours + (alpha ? 1 : 0);
    std::vector<std::vector<uint8_t>> buf(planes, std::vector<uint8_t>(line));
    uint8_t* pixels = pixelsFor(pic, w, h);
    for (uint32_t y = 0; y < h; ++y) {
        for (int p = 0; p < planes; ++p)
            if (TIFFReadScanline(t, buf[p].data(), y, static_cast<uint16_t>(p)) < 0)
                failTiff(path, "its data is damaged or cut short at row " + std::to_string(y));
        uint8_t* out = pixels + static_cast<size_t>(y) * w * 4;
        for (uint32_t x = 0; x < w; ++x, out += 4) {
            // Sample s of pixel x: in the one buffer, or in its own plane.
            auto sample = [&](int s) {
                return contig ? sampleAt(buf[0].data(), static_cast<size_t>(x) * spp + s, bits)
                              : sampleAt(buf[s].data(), x, bits);
            };
            for (int c = 0; c < 3; ++c) {
                uint8_t v = sample(grey ? 0 : c);
                out[c] = photometric == PHOTOMETRIC_MINISWHITE ? 255 - v : v;
            }
            out[3] = alpha ? sample(colours) : 255;
            if (associated && out[3] != 0 && out[3] != 255)
                for (int c = 0; c < 3; ++c)
                    out[c] =
                        static_cast<uint8_t>(std::min(255, (out[c] * 255 + out[3] / 2) / out[3]));
        }
    }
    return true;
}

void readTiff(const std::string& path, RgbaPicture* pic) {
    t_tiffError.clear();
    TIFFSetWarningHandler(tiffWarning);
    TIFFSetErrorHandler(tiffError);
    std::unique_ptr<TIFF, TiffCloser> t(TIFFOpen(path.c_str(), "r"));
    if (!t)
        failTiff(path, "cannot open it");
    uint32_t w = 0, h = 0;
    TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h);
    if (w == 0 || h == 0)
        failTiff(path, "no picture size");
    if (w > kMaxSide || h > kMaxSide)
        failTooLarge(path, w, h);
    // Whatever libtiff said of the tags is no reason to refuse the picture.
    t_tiffError.clear();
    ReadingPixels reading;
    if (readTiffSamples(t.get(), path, w, h, pic)) {
        if (!t_tiffError.empty())
            failTiff(path, "its data is damaged or cut short");
        return;
    }
    // Every other kind (palette, tiles, YCbCr, CMYK, 1 to 4-bit, other
    // orientations) through the library's own conversion to RGBA, stopping
    // at the first strip or tile that cannot be read rather than leaving
    // it blank.
    std::vector<uint32_t> raster(static_cast<size_t>(w) * h);
    if (!TIFFReadRGBAImageOriented(t.get(), w, h, raster.data(), ORIENTATION_TOPLEFT, 1))
        failTiff(path, t_tiffError.empty() ? "its kind of picture cannot be converted"
                                           : "its data is damaged or cut short");
    if (!t_tiffError.empty())
        failTiff(path, "its data is damaged or cut short");
    uint8_t* out = pixelsFor(pic, w, h);
    for (size_t i = 0; i < raster.size(); ++i) {
        out[i * 4 + 0] = static_cast<uint8_t>(TIFFGetR(raster[i]));
        out[i * 4 + 1] = static_cast<uint8_t>(TIFFGetG(raster[i]));
        out[i * 4 + 2] = static_cast<uint8_t>(TIFFGetB(raster[i]));
        out[i * 4 + 3] = static_cast<uint8_t>(TIFFGetA(raster[i]));
    }
}

// --- JPEG ---

struct JpegState {
    jpeg_error_mgr errors;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
    bool damaged = false; // stopped at a warning that data was lost
    RgbaPicture* pic = nullptr;
    std::vector<uint8_t> cmyk;
};

extern "C" void jpegError(j_common_ptr info) {
    auto* state = reinterpret_cast<JpegState*>(info->err);
    info->err->format_message(info, state->message);
    longjmp(state->jump, 1);
}

// The warnings that say scan data is missing or damaged; libjpeg goes on
// past them and fills what it lost with grey. The others (an unknown JFIF
// revision or colour transform code, a bad ICC marker) leave the pixels
// whole.
bool dataIsLost(int code) {
    switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
        return true;
    default:
        return false;
    }
}

// Level -1 is a warning; the others are trace messages.
extern "C" void jpegMessage(j_common_ptr info, int level) {
    if (level < 0 && dataIsLost(info->err->msg_code)) {
        reinterpret_cast<JpegState*>(info->err)->damaged = true;
        jpegError(info);
    }
}

void readJpeg(std::FILE* file, const std::string& path, RgbaPicture* pic) {
    auto state = std::make_unique<JpegState>();
    state->pic = pic;
    auto info = std::make_unique<jpeg_decompress_struct>();
    info->err = jpeg_std_error(&state->errors);
    state->errors.error_exit = jpegError;
    state->errors.emit_message = jpegMessage;
    bool tooLarge = false;
    if (setjmp(state->jump)) {
        jpeg_destroy_decompress(info.get());
        fail(path, std::string(state->damaged ? "the JPEG is damaged or cut short ("
                                              : "not a readable JPEG (") +
                       state->message + ")");
    }
    jpeg_create_decompress(info.get());
    jpeg_stdio_src(info.get(), file);
    jpeg_read_header(info.get(), TRUE);
    tooLarge = info->image_width > kMaxSide || info->image_height > kMaxSide;
    if (!tooLarge) {
        const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
        info->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
        jpeg_start_decompress(info.get());
        const uint32_t w = info->output_width, h = info->output_height;
        uint8_t* pixels = pixelsFor(state->pic, w, h);
        while (info->output_scanline < h) {
            JSAMPROW row = pixels + static_cast<size_t>(info->output_scanline) * w * 4;
            jpeg_read_scanlines(info.get(), &row, 1);
        }
        if (cmyk) {
            // Files with the Adobe marker store CMYK inverted (0 is full
            // ink), the others as is; the sum of ink and black darkens.
            const bool inverted = info->saw_Adobe_marker;
            for (size_t p = 0; p < state->pic->rgba.size(); p += 4) {
                uint8_t* px = &state->pic->rgba[p];
                int k = inverted ? px[3] : 255 - px[3];
                for (int c = 0; c < 3; ++c) {
                    int ink = inverted ? px[c] : 255 - px[c];
                    px[c] = static_cast<uint8_t>((ink * k + 127) / 255);
                }
                px[3] = 255;
            }
        }
        jpeg_finish_decompress(info.get());
    }
    const uint32_t w = info->image_width, h = info->image_height;
    jpeg_destroy_decompress(info.get());
    if (tooLarge)
        failTooLarge(path, w, h);
}

bool endsWith(const std::string& name, const char* ext) {
    const size_t n = std::strlen(ext);
    if (name.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != ext[i])
            return false;
    return true;
}

} // namespace

RgbaPicture readStill(const std::string& path) {
    RgbaPicture pic;
    readStill(path, &pic);
    return pic;
}

void readStill(const std::string& path, RgbaPicture* into) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file)
        fail(path, std::strerror(errno));
    // A picture of megabytes is read whole: in large reads, not stdio's
    // pages of 4 KiB (a thousand system calls for a 1080p PNG).
    std::setvbuf(file.get(), nullptr, _IOFBF, kReadBuffer);
    unsigned char magic[8] = {};
    size_t got = std::fread(magic, 1, sizeof magic, file.get());
    if (got == 0) {
        if (std::ferror(file.get()))
            fail(path, std::strerror(errno));
        fail(path, "is empty (0 bytes), not a picture");
    }
    std::rewind(file.get());
    if (got >= 8 && png_sig_cmp(magic, 0, 8) == 0)
        return readPng(file.get(), path, into);
    if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF)
        return readJpeg(file.get(), path, into);
    if (got >= 4 && ((magic[0] == 'I' && magic[1] == 'I' && (magic[2] == 42 || magic[2] == 43) &&
                      magic[3] == 0) ||
                     (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 &&
                      (magic[3] == 42 || magic[3] == 43)))) {
        file.reset();
        return readTiff(path, into);
    }
    fail(path, "not a PNG, TIFF or JPEG picture");
}

bool isStillName(const std::string& name) {
    for (const char* ext : {".png", ".tif", ".tiff", ".jpg", ".jpeg"})
        if (endsWith(name, ext))
            return true;
    return false;
}

bool naturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i]));
        const bool db = std::isdigit(static_cast<unsigned char>(b[j]));
        if (da && db) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            // Leading zeros do not change a number's value.
            size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0')
                ++si;
            while (sj + 1 < ej && b[sj] == '0')
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj;
            int c = a.compare(si, ei - si, b, sj, ej - sj);
            if (c != 0)
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return j < b.size() && i >= a.size();
    return a < b;
}

} // namespace keo::tool
