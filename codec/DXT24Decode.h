// DXT24 decoding: the codec's own block layout with 8:8:8 end colours.
//
// DXT24 block, 10 bytes:
//   0   3 x u8  c0: R0, G0, B0
//   3   3 x u8  c1: R1, G1, B1
//   6   u32 LE  16 two-bit indices; pixel k = 4 * row + column uses bits 2k
//               and 2k + 1
//
// Always four palette entries: c0, c1, two thirds towards c0, two thirds
// towards c1; every pixel is opaque. Which end colour is larger does not
// matter.
//
// DXT24 with alpha, 18 bytes: an 8-byte alpha block laid out and expanded
// exactly like the first half of a DXT5 block, then a 10-byte DXT24 block.
//
// Pictures are ARGB32 (bytes A, R, G, B) addressed in bytes, rows `stride`
// bytes apart; the frame pipeline passes stride = width * 4.
#pragma once

#include <atomic>
#include <cstdint>

// thirdsTable[a * 256 + b] = (2a + b + 1) / 3: two thirds of a and one third
// of b, rounded (the exact value is never halfway). Filled once per process
// by InitThirdsTable and read-only afterwards.
extern unsigned char thirdsTable[256 * 256];
// True once thirdsTable is complete, never before.
extern std::atomic<bool> initThirds;

// Fills thirdsTable on the first call of the process; safe to call from
// several threads at once (latecomers wait until the table is complete).
void InitThirdsTable();

// The four pixel words of a DXT24 colour block (R0 G0 B0 R1 G1 B1) with the
// given alpha byte: c0, c1, and the rounded two-thirds mixes towards each.
// Needs thirdsTable filled.
void BuildPaletteDXT24(const unsigned char* colourBlock, uint32_t alpha, uint32_t palette[4]);

// Whole frames: DecodeDXT24 in DecodeBlocks.h; DXT24+alpha frames through
// KEODecodeBlocks there.
