// DXT1 and DXT5 block decoding into ARGB32 pictures.
//
// A decoded pixel is PackARGB(r, g, b, a) = a | r << 8 | g << 16 | b << 24
// stored little-endian, so its bytes in memory are A, R, G, B whatever the
// machine's byte order. Pictures are arrays of such pixels, rows packed
// (stride = width pixels), top row first.
//
// DXT1 block, 8 bytes:
//   0   u16 LE  c0 (5:6:5, red in bits 11-15, green 5-10, blue 0-4)
//   2   u16 LE  c1
//   4   u32 LE  16 two-bit colour indices; pixel k = 4 * row + column uses
//               bits 2k and 2k + 1
//
// DXT5 block, 16 bytes:
//   0   u8      a0
//   1   u8      a1
//   2   6 bytes 16 three-bit alpha codes, one 48-bit LE number; pixel k uses
//               bits 3k to 3k + 2
//   8   8 bytes colour block as in DXT1, always in four-colour mode
//
// The block decoders drop the pixels of edge blocks that fall outside the
// picture, and allocate nothing.
#pragma once

#include <cstdint>

// The alpha half that DXT5 and DXT24+alpha blocks begin with.
enum { kDXT5AlphaBlockSize = 8 };

uint32_t PackARGB(uint32_t r, uint32_t g, uint32_t b, uint32_t a);

// A PackARGB value as the native 32-bit word whose bytes in memory are
// A, R, G, B; storing it writes the pixel in the picture's byte order.
uint32_t PixelWord(uint32_t packedARGB);

// The 8-bit expansions of 5- and 6-bit colour channels.
uint32_t Expand5To8(uint32_t v);
uint32_t Expand6To8(uint32_t v);

// The 16 alpha values of a DXT5 alpha block (its first 8 bytes), in pixel
// order k = 4 * row + column, each as a pixel word with only its A byte set
// so that it can be or-ed onto an alpha-free colour word. Shared by every
// layout that carries DXT5-style alpha.
void ExpandAlphaBlockDXT5(const unsigned char* alphaBlock, uint32_t alphaWords[16]);

// The four pixel words of a 4-byte colour pair c0, c1 (5:6:5) with the given
// alpha byte. allowThreeColour selects DXT1's rule (c0 <= c1: mid-point and
// black); DXT5 colours always use the four-colour palette.
void BuildColourPaletteDXT(const unsigned char* colourBlock, bool allowThreeColour, uint32_t alpha,
                           uint32_t palette[4]);

// Decode one block whose top-left pixel is (x, y) into a width x height
// picture. Pixels with x + i >= width or y + j >= height are not written.
void DecompressBlockDXT1(uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                         const unsigned char* block, uint32_t* picture);
void DecompressBlockDXT5(uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                         const unsigned char* block, uint32_t* picture);

// Whole frames: BlockDecompressImageDXT1 and BlockDecompressImageDXT5 in
// DecodeBlocks.h.
