// Whole-frame block decoding into any picture layout, with a portable path
// and an SSSE3 path that give the same bytes.
//
// A destination is described by the address of picture row 0 and the byte
// distance from one row to the next, which may be negative: a bottom-up host
// frame is row 0 at its last line and a negative pitch. Pixels are ARGB32
// (bytes A, R, G, B); every pixel of the width x height picture is written,
// and nothing outside it.
//
// The SSSE3 path builds the palettes of four blocks at once in 16-bit lanes
// and writes each row of four pixels with one byte shuffle of the block's
// palette. It is chosen at run time on processors that have SSSE3; the
// portable path serves every other machine and is the reference in tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/BlockLayout.h"

// The SSSE3 path is compiled on x86 with GCC or Clang, whose target
// attributes let it sit beside code built for plain SSE2.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__) &&                             \
    (defined(__GNUC__) || defined(__clang__))
#define KEO_HAVE_SSSE3_PATH 1
#else
#define KEO_HAVE_SSSE3_PATH 0
#endif

enum KEODecodePath {
    kKEODecodeBest,     // the fastest path this processor runs
    kKEODecodePortable, // plain C++, any machine
    kKEODecodeSSSE3,    // x86 with SSSE3 only
};

// Whether the processor (and this build) can run a path.
bool KEODecodePathAvailable(KEODecodePath path);

// Decodes (width + 3) / 4 x (height + 3) / 4 blocks in raster order; row y of
// the picture starts at row0 + y * pitch. Nothing happens for a side of 0.
// Returns false, writing nothing, when the path is not available.
bool KEODecodeBlocks(KEOBlockLayout layout, const unsigned char* blockData, uint32_t width,
                     uint32_t height, unsigned char* row0, ptrdiff_t pitch,
                     KEODecodePath path = kKEODecodeBest);

// The two paths themselves; KEODecodeBlocks picks one.
void KEODecodeBlocksPortable(KEOBlockLayout layout, const unsigned char* blockData, uint32_t width,
                             uint32_t height, unsigned char* row0, ptrdiff_t pitch);
// Only defined where KEO_HAVE_SSSE3_PATH is 1; the caller checks the CPU.
void KEODecodeBlocksSSSE3(KEOBlockLayout layout, const unsigned char* blockData, uint32_t width,
                          uint32_t height, unsigned char* row0, ptrdiff_t pitch);

// Whole frames into packed pictures, top row first, on the fastest path.
// DXT1 and DXT5 (8- and 16-byte blocks) into width x height pixels:
void BlockDecompressImageDXT1(uint32_t width, uint32_t height, const unsigned char* blockData,
                              uint32_t* picture);
void BlockDecompressImageDXT5(uint32_t width, uint32_t height, const unsigned char* blockData,
                              uint32_t* picture);
// DXT24 (10-byte blocks) into a picture addressed in bytes, rows `stride`
// bytes apart. Fills thirdsTable first (DXT24Decode.h), even when nothing
// is decoded; a side below 1 writes nothing and reads no block data.
void DecodeDXT24(const unsigned char* blockData, unsigned char* picture, int width, int height,
                 int stride);
