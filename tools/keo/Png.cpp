// PNG writing through libpng, into memory (reading is in Stills.cpp).
//
// libpng reports errors by longjmp: what lives across the setjmp is reached
// through a pointer set before it, and the exception is thrown only after
// the jump has landed back in encodePng's own frame, never from inside a
// libpng call.
#include "Png.h"

#include "StillOut.h"
#include "base/PixelOrder.h"
#include "libkeo/Failure.h"

#include <csetjmp>
#include <cstring>
#include <memory>
#include <png.h>
#include <stdexcept>
#include <zlib.h>

namespace keo::tool {
using namespace keo::lib;
namespace {

struct PngWrite {
    jmp_buf jump;
    char message[256] = "";
    bool outOfMemory = false;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> row;
};

extern "C" void pngWriteError(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngWrite*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    longjmp(state->jump, 1);
}

extern "C" void pngWriteWarning(png_structp, png_const_charp) {}

extern "C" void pngAppend(png_structp png, png_bytep data, size_t length) {
    auto* state = static_cast<PngWrite*>(png_get_io_ptr(png));
    try {
        state->bytes.insert(state->bytes.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        state->outOfMemory = true;
        png_error(png, "out of memory");
    }
}

extern "C" void pngFlush(png_structp) {}

} // namespace

std::vector<uint8_t> encodePng(const uint8_t* pixels, bool argb, int width, int height,
                               PngCompression compression) {
    auto state = std::make_unique<PngWrite>();
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, state.get(), pngWriteError, pngWriteWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw std::bad_alloc();
    }
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    state->row.resize(argb ? rowBytes : 0);
    // Roughly what the fast setting makes of a picture, so that the buffer
    // seldom grows.
    state->bytes.reserve(rowBytes * height / 8 + 1024);
    if (setjmp(state->jump)) {
        png_destroy_write_struct(&png, &info);
        if (state->outOfMemory)
            throw std::bad_alloc();
        throw std::runtime_error(std::string("cannot write PNG (") + state->message + ")");
    }
    png_set_write_fn(png, state.get(), pngAppend, pngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (compression == PngCompression::Fast) {
        png_set_compression_level(png, 1);
        png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    } else {
        png_set_compression_level(png, 9);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    }
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        const uint8_t* at = pixels + static_cast<size_t>(y) * rowBytes;
        if (argb) {
            keo::convertPixels({keo::PixelLayout::ARGB, keo::PixelLayout::RGBA}, at, rowBytes,
                               state->row.data(), rowBytes, width, 1);
            at = state->row.data();
        }
        png_write_row(png, at);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::move(state->bytes);
}

void writePngFile(const std::string& path, const uint8_t* rgba, int width, int height,
                  const std::vector<std::string>& inputs, PngCompression compression) {
    std::vector<uint8_t> bytes;
    try {
        bytes = encodePng(rgba, false, width, height, compression);
    } catch (const std::runtime_error& e) {
        fail(path, e.what());
    }
    writeStillFile(path, bytes, inputs);
}

} // namespace keo::tool
