// PNG writing through libpng's simplified API (reading is in Stills.cpp).
#include "Png.h"

#include "AtomicOutput.h"
#include "Failure.h"

#include <cerrno>
#include <cstring>
#include <png.h>

namespace keo::tool {

void writePng(std::FILE* file, const std::string& name, const uint8_t* rgba, int width,
              int height) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    errno = 0;
    if (!png_image_write_to_stdio(&image, file, 0, rgba, 0, nullptr)) {
        int err = errno;
        std::string why = image.message;
        png_image_free(&image);
        if (err != 0 && std::ferror(file))
            failWithErrno(name, err);
        fail(name, "cannot write PNG (" + why + ")");
    }
    png_image_free(&image);
}

void writePngFile(const std::string& path, const uint8_t* rgba, int width, int height,
                  const std::vector<std::string>& inputs) {
    AtomicOutput out;
    beginOutput(out, path, OutputUse::Stream, inputs);
    if (out.toStdout) {
        writePng(stdout, "standard output", rgba, width, height);
        if (std::fflush(stdout) != 0)
            failWithErrno("standard output", errno);
        return;
    }
    std::FILE* file = std::fopen(out.writePath.c_str(), "wb");
    if (!file)
        failWithErrno(path, errno);
    try {
        writePng(file, path, rgba, width, height);
    } catch (...) {
        std::fclose(file);
        throw;
    }
    if (std::fclose(file) != 0)
        failWithErrno(path, errno);
    commitOutput(out);
}

void argbToRgba(const uint8_t* argb, uint8_t* rgba, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, argb += 4, rgba += 4) {
        uint8_t a = argb[0];
        rgba[0] = argb[1];
        rgba[1] = argb[2];
        rgba[2] = argb[3];
        rgba[3] = a;
    }
}

} // namespace keo::tool
