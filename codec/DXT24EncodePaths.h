// The two implementations of the opaque DXT24 region encode, which give the
// same bytes: the portable one of DXT24Encode.cpp, and one whose per-pixel
// loops run in SSE2 lanes (every 64-bit x86 processor has SSE2). Both follow
// _stbCompressARGB32_to24 with alpha false; tests compare them.
#pragma once

#include <cstddef>

enum KEOEncodePath {
    kKEOEncodeBest,     // SSE2 where the build targets it, else portable
    kKEOEncodePortable, // plain C++, any machine
    kKEOEncodeSSE2,     // x86 builds only
};

#if defined(__SSE2__)
#define KEO_HAVE_SSE2_ENCODE 1
#else
#define KEO_HAVE_SSE2_ENCODE 0
#endif

bool KEOEncodePathAvailable(KEOEncodePath path);

// Encodes the width x height region at source, rows `stride` bytes apart
// (any sign), into opaque 10-byte DXT24 blocks in raster order, edge blocks
// repeating the last column and row. Returns false, writing nothing, when
// the path is not available; nothing happens for a side below 1.
bool KEOEncodeDXT24Region(unsigned char* destination, const unsigned char* source, int width,
                          int height, ptrdiff_t stride, KEOEncodePath path = kKEOEncodeBest);

// One block of 16 ARGB32 pixels given as four rows of four, each row 16
// bytes; the SSE2 path's block encoder, for the region walk and for tests.
void KEOEncodeDXT24BlockSSE2(unsigned char* dest, const unsigned char* const rows[4]);
