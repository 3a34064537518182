// DXT24 block encoding: the stb_dxt colour-block algorithm with 8:8:8 end
// colours.
//
// DXT24 block, 10 bytes:
//   0   3 x u8  c0 as R, G, B; always the larger of the two colours read as
//               the 24-bit number R << 16 | G << 8 | B
//   3   3 x u8  c1 as R, G, B
//   6   u32 LE  16 two-bit indices; pixel k = 4 * row + column uses bits 2k
//               and 2k + 1. Index 2 lies two thirds of the way towards c0,
//               index 3 two thirds of the way towards c1.
//
// With alpha, each block is 18 bytes: the 8-byte DXT5 alpha block (largest
// alpha, smallest alpha, 16 three-bit codes) followed by the 10-byte block
// above.
//
// Everything lives on the caller's stack, so any number of threads may encode
// different regions at once.
#pragma once

// Mode bit that asks for two refinement passes instead of one.
enum { kDXT24HighQuality = 2 };

// Encodes one block from 16 pixels of R, G, B, A bytes in raster order.
void stb_compress_dxt_block_24(unsigned char* dest, const unsigned char* block, bool alpha,
                               int mode);

// Encodes the width x height region of an ARGB32 picture (bytes A, R, G, B)
// whose top-left pixel is at source, rows rowBytes apart (0 means width * 4),
// into (width + 3) / 4 x (height + 3) / 4 blocks in raster order: DXT24, or
// with alpha DXT24+alpha (BlockLayout.h). Edge blocks repeat the region's
// last column and last row. Nothing happens for a height or width below 1.
void _stbCompressARGB32_to24(unsigned char* destination, const unsigned char* source, int width,
                             int height, int rowBytes, bool alpha);
