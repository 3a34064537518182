// Still pictures out: decoded frames as PNG, TIFF or JPEG files.
//
// A frame is encoded into memory first (encodeStill), which any thread may
// do, and written to its file afterwards (writeStillFile) on the thread that
// owns the outputs. Pictures in: Stills.h.
//
//   PNG:  8-bit RGBA, lossless; compression Fast or Small (Png.h)
//   TIFF: 8-bit RGBA with unassociated alpha, lossless: Deflate at its
//         quickest level with horizontal differencing, strips of rows
//   JPEG: 8-bit RGB at the given quality (alpha is dropped: the format
//         has none), 4:4:4, so no colour is averaged across pixels
#pragma once

#include "Png.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keo::tool {

enum class StillFormat { Png, Tiff, Jpeg };

struct StillSettings {
    StillFormat format = StillFormat::Png;
    PngCompression png = PngCompression::Fast;
    int jpegQuality = 95; // 1-100
};

// The format of a --format name ("png", "tiff", "jpeg"); false for any other.
bool stillFormatNamed(const std::string& name, StillFormat* format);

// The file's bytes for a width x height ARGB32 picture (bytes A, R, G, B,
// rows top first and packed). Throws std::runtime_error with the library's
// reason, or std::bad_alloc.
std::vector<uint8_t> encodeStill(const StillSettings& settings, const uint8_t* argb, int width,
                                 int height);

// Writes a file's bytes through AtomicOutput: whole or not at all; "-" is
// standard output. `inputs` are files the output must not be. Throws Failure.
void writeStillFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    const std::vector<std::string>& inputs = {});

} // namespace keo::tool
