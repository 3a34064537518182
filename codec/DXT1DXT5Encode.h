// DXT1 and DXT5 frame encoding through the bundled stb_dxt compressor.
//
// Blocks come out in the layouts that DXT1DXT5Decode.h reads: 8-byte DXT1
// blocks, or 16-byte DXT5 blocks with the alpha half first. stb_dxt is fed
// R, G, B, A pixels and puts red in the top five bits of each 5:6:5 colour, so
// a decoded frame has the ARGB32 byte order of its source.
#pragma once

// Encodes a width x height ARGB32 frame (bytes A, R, G, B, top row first,
// rows rowBytes apart) into (width + 3) / 4 x (height + 3) / 4 blocks in
// raster order: DXT1 when alpha is false, DXT5 when true. Edge blocks repeat
// the last column and row. rowBytes 0 means width * 4. Works in static block
// buffers, so calls are serialised internally.
void stbCompressARGB32(unsigned char* destination, const unsigned char* source, int width,
                       int height, int rowBytes, bool alpha);

// The same for any region of a frame (a band of block rows, say), with the
// working blocks on the caller's stack: any number of threads may encode
// different regions at once. A band whose rows are a multiple of 4 and that
// starts on a block row gives exactly the blocks that the whole-frame encode
// gives there.
void KEOEncodeDXT1DXT5Region(unsigned char* destination, const unsigned char* source, int width,
                             int height, int rowBytes, bool alpha);
