// Pixel layouts and the one conversion between them that every part of the
// project uses: the host turning a picture into its bottom-up BGRA frame,
// the exporter turning that into the encoder's ARGB32, keodec, keo and the
// Python module turning decoded frames into the order their users ask for.
//
// A layout names the bytes of one pixel in memory, lowest address first:
//
//   ARGB   A, R, G, B   the codec's ARGB32, what it decodes and encodes
//   RGBA   R, G, B, A   PNG, TIFF, NumPy, keo's raw frames
//   BGRA   B, G, R, A   the host's rendered frames
//   RGB    R, G, B      JPEG; no alpha
//   BGR    B, G, R      no alpha
//   Gray   Y            ITU-R 601 luma, (19595 R + 38470 G + 7471 B + 32768) >> 16
//
// Alpha is straight (colours are not multiplied by it). A layout without
// alpha drops it, and reads as opaque (255) when it is the source. Asked
// for PixelAlpha::OntoBlack, the picture is first laid over opaque black:
// each colour becomes (colour x alpha + 127) / 255 and alpha 255. That is
// how an export to a layout without alpha treats transparency (the host's
// inCompositeOnBlack), so every writer that takes alpha into an opaque
// movie asks for it here.
//
// Rows are `pitch` bytes apart (at least width x pixelBytes), the row at
// the lowest address first; bytes between rows are neither read nor
// written. RowOrder::Flipped writes the source's first row as the target's
// last: top-down to bottom-up and back.
//
// Each conversion is one loop over the rows: four pixels at a time with
// SSSE3 byte shuffles where the processor has them (chosen at run time),
// a pixel at a time elsewhere and for the last pixels of a row. Both paths
// give the same bytes; the portable one is the reference in the tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace keo {

enum class PixelLayout : uint8_t { ARGB, RGBA, BGRA, RGB, BGR, Gray };

enum class RowOrder : uint8_t {
    Same,    // target row y is source row y
    Flipped, // target row height - 1 - y is source row y
};

enum class PixelAlpha : uint8_t {
    Keep,      // straight alpha as it is; dropped by layouts without alpha
    OntoBlack, // composited onto opaque black: colours times alpha, alpha 255
};

struct PixelConversion {
    PixelLayout from;
    PixelLayout to;
    RowOrder rows = RowOrder::Same;
    PixelAlpha alpha = PixelAlpha::Keep;
};

enum class PixelPath : uint8_t {
    Best,     // SSSE3 where the processor has it, else portable
    Portable, // plain C++, any machine
    SSSE3,    // x86 with SSSE3 only
};

// Bytes of one pixel: 4, 3 or 1.
int pixelBytes(PixelLayout layout);
bool layoutHasAlpha(PixelLayout layout);
// Whether the processor (and this build) can run a path.
bool pixelPathAvailable(PixelPath path);

// Converts width x height pixels from `src` into `dst`. Gray is a target
// only. `dst` may be `src` (same pitch) when the target's pixels are no
// wider than the source's and the rows are not flipped. Returns false,
// writing nothing, for a Gray source, a side below 0, or a path this
// machine lacks; a side of 0 converts nothing and succeeds.
bool convertPixels(const PixelConversion& how, const uint8_t* src, size_t srcPitch, uint8_t* dst,
                   size_t dstPitch, int width, int height, PixelPath path = PixelPath::Best);

} // namespace keo
