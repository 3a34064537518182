// Frame encoding in bands of block rows, each band compressed with LZF as
// soon as its blocks are encoded.
//
// A frame is cut into bands of kKEOEncodeBandBlockRows block rows (the last
// one shorter). Whoever encodes, the calling thread alone or the encoder's
// workers taking bands in turn, writes a band's blocks at their place in the
// frame's block data and then, when asked, compresses exactly those blocks
// into the band's own room with lzf_compress. The bands do not depend on the
// number of threads, so neither do the bytes. The frame's LZF payload is the
// bands' streams one after another: that is one valid LZF stream, since no
// reference of a band reaches before the band's first byte, and it decodes
// to the whole block data.
//
// Compressing a band right after encoding it finds its blocks still in
// cache, and on several threads the compression of one band runs while the
// others go on encoding, instead of all of it after the last block. Cutting
// the stream costs LZF the repeats across band edges: about 0.4 to 0.9 % of
// the payload at 8 block rows, against 2 % at 4 and 0.2 % at 16, where two
// workers would wait longer for each other at the end of a 1080p frame.
#pragma once

#include <atomic>
#include <cstddef>

#include "codec/BlockLayout.h"

enum { kKEOEncodeBandBlockRows = 8 };

struct KEOBandedFrame {
    // The frame: ARGB32 (bytes A, R, G, B), top row first, rows rowBytes
    // apart (0: width * 4).
    const unsigned char* source;
    int width;
    int height;
    int rowBytes;
    KEOBlockLayout layout;
    bool compress; // LZF each band

    // Where it goes: the whole block data, and band b's stream at
    // packed + b * bandRoom, its length in packedLengths[b] (0 when
    // lzf_compress gave up). packed and packedLengths only when compressing.
    unsigned char* blocks;
    unsigned char* packed;
    unsigned int* packedLengths;

    // Set by KEOPlanBands.
    int bandCount;
    size_t blockRowBytes;
    size_t bandBytes; // block data of a whole band
    size_t bandRoom;  // room for one band's stream: more than it can need

    std::atomic<int> nextBand;
};

// Fills in the band geometry from the frame's size and layout and readies
// the band counter; packed needs bandCount * bandRoom bytes and
// packedLengths bandCount entries. False for sides below 1 or a value that is
// no layout.
bool KEOPlanBands(KEOBandedFrame* frame);

// Takes bands until none is left, encoding and (when asked) compressing
// each. Any number of threads may run it on one frame at once.
void KEOEncodeBands(KEOBandedFrame* frame);

// The payload length of the bands' streams put together, or 0 when one of
// them could not be compressed.
size_t KEOPackedBandsLength(const KEOBandedFrame* frame);

// Writes the bands' streams one after another at `to`.
void KEOJoinPackedBands(const KEOBandedFrame* frame, unsigned char* to);
