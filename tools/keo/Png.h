// PNG pictures out, as 8-bit RGBA, and the conversions between the
// decoder's ARGB and RGBA. Pictures in: Stills.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace keo::tool {

// Writes the picture to an open stream; `name` only labels errors.
void writePng(std::FILE* file, const std::string& name, const uint8_t* rgba, int width, int height);
// Writes a whole file through AtomicOutput (nothing is left on failure);
// "-" is standard output. `inputs` are files the output must not be.
void writePngFile(const std::string& path, const uint8_t* rgba, int width, int height,
                  const std::vector<std::string>& inputs = {});

// ARGB32 (bytes A, R, G, B) to the RGBA order of PNG, `pixels` pixels.
void argbToRgba(const uint8_t* argb, uint8_t* rgba, size_t pixels);

} // namespace keo::tool
