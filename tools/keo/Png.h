// PNG pictures out, as 8-bit RGBA. Pictures in: Stills.h.
//
// Every PNG is lossless; the compression only trades time for size. Fast,
// the default, is zlib's level 1 with every row "up"-filtered (the
// difference from the row above): on test patterns and on a photograph it
// was the quickest setting measured, at a few times the size of Small,
// which is level 9 with libpng's filter chosen per row (bench_stills prints
// the table).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keo::tool {

enum class PngCompression { Fast, Small };

// The PNG file of a picture whose rows are top first and packed. `argb`
// says the pixels are in the decoder's A, R, G, B order (they are turned
// into RGBA a row at a time); otherwise they are RGBA already. Throws
// std::runtime_error with libpng's reason, or std::bad_alloc.
std::vector<uint8_t> encodePng(const uint8_t* pixels, bool argb, int width, int height,
                               PngCompression compression);

// Writes a whole file through AtomicOutput (nothing is left on failure);
// "-" is standard output. `inputs` are files the output must not be.
void writePngFile(const std::string& path, const uint8_t* rgba, int width, int height,
                  const std::vector<std::string>& inputs = {},
                  PngCompression compression = PngCompression::Fast);

} // namespace keo::tool
