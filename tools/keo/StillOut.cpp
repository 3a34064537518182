// TIFF and JPEG writing into memory over libtiff and libjpeg-turbo, the
// choice of encoder, and writing the bytes to their file.
//
// Encoders run on worker threads, so nothing here touches a library's
// process-wide state: libtiff's errors go to a handler of this file's own
// TIFF, and libjpeg's to an error manager of this call's own.
#include "StillOut.h"

#include "base/PixelOrder.h"
#include "libkeo/AtomicOutput.h"
#include "libkeo/Failure.h"

#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <tiffio.h>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace keo::tool {
using namespace keo::lib;
namespace {

// --- TIFF ---

// A file in memory for libtiff, which seeks back to write its directory.
struct TiffMemory {
    std::vector<uint8_t> bytes;
    uint64_t at = 0;
    std::string error;
};

extern "C" tmsize_t tiffReadMemory(thandle_t, void*, tmsize_t) {
    return 0; // opened for writing only
}

extern "C" tmsize_t tiffWriteMemory(thandle_t handle, void* data, tmsize_t size) {
    auto* file = static_cast<TiffMemory*>(handle);
    if (size < 0)
        return -1;
    const uint64_t end = file->at + static_cast<uint64_t>(size);
    try {
        if (end > file->bytes.size())
            file->bytes.resize(end);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    std::memcpy(file->bytes.data() + file->at, data, static_cast<size_t>(size));
    file->at = end;
    return size;
}

extern "C" toff_t tiffSeekMemory(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<TiffMemory*>(handle);
    const uint64_t base = whence == SEEK_CUR   ? file->at
                          : whence == SEEK_END ? file->bytes.size()
                                               : 0;
    file->at = base + offset;
    return file->at;
}

extern "C" int tiffCloseMemory(thandle_t) {
    return 0;
}

extern "C" toff_t tiffSizeMemory(thandle_t handle) {
    return static_cast<TiffMemory*>(handle)->bytes.size();
}

extern "C" int tiffMapMemory(thandle_t, void**, toff_t*) {
    return 0;
}

extern "C" void tiffUnmapMemory(thandle_t, void*, toff_t) {}

extern "C" int tiffWriteError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* file = static_cast<TiffMemory*>(user);
    char buf[256];
    std::vsnprintf(buf, sizeof buf, format, args);
    if (file->error.empty())
        file->error = buf;
    return 1; // handled: the process-wide handler is not called
}

extern "C" int tiffWriteWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffOptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

std::vector<uint8_t> encodeTiff(const uint8_t* argb, int width, int height) {
    TiffMemory file;
    std::unique_ptr<TIFFOpenOptions, TiffOptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options)
        throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), tiffWriteError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), tiffWriteWarning, &file);
    TIFF* tiff = TIFFClientOpenExt("frame", "w", &file, tiffReadMemory, tiffWriteMemory,
                                   tiffSeekMemory, tiffCloseMemory, tiffSizeMemory, tiffMapMemory,
                                   tiffUnmapMemory, options.get());
    if (!tiff)
        throw std::runtime_error("cannot write TIFF (" + file.error + ")");
    const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, 1);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    bool written = true;
    for (int y = 0; y < height && written; ++y) {
        keo::convertPixels({keo::PixelLayout::ARGB, keo::PixelLayout::RGBA},
                           argb + static_cast<size_t>(y) * row.size(), row.size(), row.data(),
                           row.size(), width, 1);
        written = TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    written = written && TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
    if (!written || !file.error.empty())
        throw std::runtime_error("cannot write TIFF (" +
                                 (file.error.empty() ? "out of memory" : file.error) + ")");
    return std::move(file.bytes);
}

// --- JPEG ---

struct JpegWrite {
    jpeg_error_mgr errors;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
    unsigned char* bytes = nullptr; // jpeg_mem_dest's buffer, malloc'ed
    unsigned long size = 0;
    std::vector<uint8_t> row;
};

extern "C" void jpegWriteError(j_common_ptr info) {
    auto* state = reinterpret_cast<JpegWrite*>(info->err);
    info->err->format_message(info, state->message);
    longjmp(state->jump, 1);
}

extern "C" void jpegWriteMessage(j_common_ptr) {}

// As in the PNG encoder, everything that lives across the setjmp is reached
// through a pointer set before it, and the exception is thrown after the
// jump has landed.
std::vector<uint8_t> encodeJpeg(const uint8_t* argb, int width, int height, int quality) {
    auto state = std::make_unique<JpegWrite>();
    auto info = std::make_unique<jpeg_compress_struct>();
    info->err = jpeg_std_error(&state->errors);
    state->errors.error_exit = jpegWriteError;
    state->errors.output_message = jpegWriteMessage;
    state->row.resize(static_cast<size_t>(width) * 3);
    if (setjmp(state->jump)) {
        jpeg_destroy_compress(info.get());
        std::free(state->bytes);
        throw std::runtime_error(std::string("cannot write JPEG (") + state->message + ")");
    }
    jpeg_create_compress(info.get());
    jpeg_mem_dest(info.get(), &state->bytes, &state->size);
    info->image_width = static_cast<JDIMENSION>(width);
    info->image_height = static_cast<JDIMENSION>(height);
    info->input_components = 3;
    info->in_color_space = JCS_RGB;
    jpeg_set_defaults(info.get());
    jpeg_set_quality(info.get(), quality, TRUE);
    for (int c = 0; c < info->num_components; ++c)
        info->comp_info[c].h_samp_factor = info->comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(info.get(), TRUE);
    while (info->next_scanline < info->image_height) {
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        keo::convertPixels({keo::PixelLayout::ARGB, keo::PixelLayout::RGB},
                           argb + info->next_scanline * rowBytes, rowBytes, state->row.data(),
                           state->row.size(), width, 1);
        JSAMPROW rows[1] = {state->row.data()};
        jpeg_write_scanlines(info.get(), rows, 1);
    }
    jpeg_finish_compress(info.get());
    jpeg_destroy_compress(info.get());
    std::vector<uint8_t> bytes;
    try {
        bytes.assign(state->bytes, state->bytes + state->size);
    } catch (...) {
        std::free(state->bytes);
        throw;
    }
    std::free(state->bytes);
    return bytes;
}

} // namespace

bool stillFormatNamed(const std::string& name, StillFormat* format) {
    if (name == "png")
        *format = StillFormat::Png;
    else if (name == "tiff")
        *format = StillFormat::Tiff;
    else if (name == "jpeg")
        *format = StillFormat::Jpeg;
    else
        return false;
    return true;
}

std::vector<uint8_t> encodeStill(const StillSettings& settings, const uint8_t* argb, int width,
                                 int height) {
    switch (settings.format) {
    case StillFormat::Png:
        break;
    case StillFormat::Tiff:
        return encodeTiff(argb, width, height);
    case StillFormat::Jpeg:
        return encodeJpeg(argb, width, height, settings.jpegQuality);
    }
    return encodePng(argb, true, width, height, settings.png);
}

void writeStillFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    const std::vector<std::string>& inputs) {
    AtomicOutput out;
    beginOutput(out, path, OutputUse::Stream, inputs);
    const bool toStdout = out.toStdout;
    std::FILE* file = toStdout ? stdout : std::fopen(out.writePath.c_str(), "wb");
    if (!file)
        failWithErrno(path, errno);
    const std::string name = toStdout ? "standard output" : path;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int err = errno;
    if (toStdout) {
        if (ok && std::fflush(stdout) != 0) {
            ok = false;
            err = errno;
        }
    } else if (std::fclose(file) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok)
        failWithErrno(name, err);
    if (!toStdout)
        commitOutput(out);
}

} // namespace keo::tool
