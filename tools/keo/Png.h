// PNG pictures in and out, always as 8-bit RGBA.
//
// Reading accepts any PNG libpng understands (grey, palette, 16-bit, with or
// without alpha) and converts it; writing produces RGBA 8-bit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace keo::tool {

struct RgbaPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba; // width x height x 4, top row first, rows packed
};

// Throws Failure naming the file when it cannot be read as a PNG.
RgbaPicture readPng(const std::string& path);
// Writes the picture to an open stream; `name` only labels errors.
void writePng(std::FILE* file, const std::string& name, const uint8_t* rgba, int width, int height);
// Writes a whole file through a temporary (nothing is left on failure).
void writePngFile(const std::string& path, const uint8_t* rgba, int width, int height);

// ARGB32 (bytes A, R, G, B) to RGBA and back, `pixels` pixels.
void argbToRgba(const uint8_t* argb, uint8_t* rgba, size_t pixels);
void rgbaToArgb(const uint8_t* rgba, uint8_t* argb, size_t pixels);

} // namespace keo::tool
