// PNG through libpng's simplified API, which handles every input colour type
// and converts to the one layout the tool works in.
#include "Png.h"

#include "AtomicOutput.h"
#include "Failure.h"

#include <cerrno>
#include <cstring>
#include <png.h>

namespace keo::tool {

RgbaPicture readPng(const std::string& path) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        fail(path, std::strerror(errno));
    if (!png_image_begin_read_from_stdio(&image, file)) {
        std::string why = image.message;
        png_image_free(&image);
        std::fclose(file);
        fail(path, "not a readable PNG (" + why + ")");
    }
    image.format = PNG_FORMAT_RGBA;
    RgbaPicture pic;
    pic.width = static_cast<int>(image.width);
    pic.height = static_cast<int>(image.height);
    if (image.width > 32767 || image.height > 32767) {
        png_image_free(&image);
        std::fclose(file);
        fail(path, "picture larger than 32767 pixels a side");
    }
    pic.rgba.resize(PNG_IMAGE_SIZE(image));
    bool ok = png_image_finish_read(&image, nullptr, pic.rgba.data(), 0, nullptr) != 0;
    std::string why = ok ? "" : image.message;
    png_image_free(&image);
    std::fclose(file);
    if (!ok)
        fail(path, "damaged PNG (" + why + ")");
    return pic;
}

void writePng(std::FILE* file, const std::string& name, const uint8_t* rgba, int width,
              int height) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_stdio(&image, file, 0, rgba, 0, nullptr)) {
        std::string why = image.message;
        png_image_free(&image);
        fail(name, "cannot write PNG (" + why + ")");
    }
    png_image_free(&image);
}

void writePngFile(const std::string& path, const uint8_t* rgba, int width, int height) {
    AtomicOutput out;
    beginOutput(out, path);
    std::FILE* file = std::fopen(out.temp.c_str(), "wb");
    if (!file)
        fail(path, std::strerror(errno));
    try {
        writePng(file, path, rgba, width, height);
    } catch (...) {
        std::fclose(file);
        throw;
    }
    if (std::fclose(file) != 0)
        fail(path, std::string("write failed: ") + std::strerror(errno));
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

void rgbaToArgb(const uint8_t* rgba, uint8_t* argb, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, argb += 4, rgba += 4) {
        uint8_t a = rgba[3];
        argb[3] = rgba[2];
        argb[2] = rgba[1];
        argb[1] = rgba[0];
        argb[0] = a;
    }
}

} // namespace keo::tool
