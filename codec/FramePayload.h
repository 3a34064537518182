// The KEO frame payload: one per video sample.
//
// A payload is a 28-byte little-endian header followed by the frame's 4x4
// blocks in raster order, stored plain or as one LZF stream:
//
//   offset  width  field           writer stores
//   0       u32    headerSize      28 (the payload starts here; at most 28)
//   4       u8     formatVersion   1 (0 and 1 are accepted)
//   5       u8     hasAlpha        1 with transparency, else 0
//   6       u8     isLZF           1 when the payload is an LZF stream
//   7       9      reserved        0
//   16      u32    payloadSize     bytes after the header
//   20      4      reserved        0
//   24      u8     isOpaque        complement of hasAlpha (not checked)
//   25      u8     prefersDXT1     1 when "KEOOptimizeFor" was 1 (not checked)
//   26      u8     isDXT24         1 for the DXT24 block layout
//   27      1      reserved        0
//
// The block layout is the one that (isDXT24, hasAlpha) select in
// BlockLayout.h: DXT1, DXT5, DXT24 or DXT24+alpha.
#pragma once

#include <cstdint>

#include "base/ByteBuffer.h"
#include "codec/BlockLayout.h"

enum {
    kKEOFrameHeaderSize = 28,
    kKEODecodeOK = 0,
    kKEODecodeFailed = 99,
};

struct KEOFrameHeader {
    uint32_t headerSize;
    uint8_t formatVersion;
    uint8_t hasAlpha;
    uint8_t isLZF;
    uint32_t payloadSize;
    uint8_t isOpaque;
    uint8_t prefersDXT1;
    uint8_t isDXT24;

    // Takes every field at its fixed offset from 28 readable bytes, whatever
    // headerSize says.
    void read(const unsigned char* bytes);
    // Writes all 28 bytes, the reserved ones as zero.
    void write(unsigned char* bytes) const;
    // The block layout the flags select (BlockLayout.h).
    KEOBlockLayout layout() const;
};

// True when the decoder takes the header: a format version, header size,
// LZF flag and layout flag that it knows. Whoever tells frames apart by
// their headers without decoding them (keo info) asks this, so that a
// header the decoder refuses is never counted as a layout.
bool KEOFrameHeaderAcceptable(const KEOFrameHeader& header);

// The limit of a decoded picture: width x height x 4 bytes stay below this.
// It keeps every picture, row pitch and block count within 32 bits.
constexpr uint64_t kKEOMaxPictureBytes = uint64_t(1) << 31;

// True when the decoder takes a width x height picture: both sides at least
// 1 and width x height x 4 below kKEOMaxPictureBytes. Whoever announces a
// picture before decoding it (the importer) asks this first.
bool KEOPictureFits(int width, int height);

// Block-data size of a width x height frame, computed in 64 bits. False for
// sides below 1, a value that is no layout, or a size beyond what a frame may
// take (2^31 bytes). The second form takes the header's flags.
bool KEOLayoutBlockDataSize(int width, int height, KEOBlockLayout layout, uint64_t* size);
bool KEOBlockDataSize(int width, int height, bool isDXT24, bool hasAlpha, uint64_t* size);

// Decodes one sample into a width x height ARGB32 picture (bytes A, R, G, B,
// top row first, rows packed) that the caller releases with free(). Returns 0,
// or 99 with *picture left null; never reads beyond sample + sampleLength.
int DecodeFramePayload(const unsigned char* sample, unsigned int sampleLength, int width,
                       int height, unsigned char** picture);

// Decodes one sample straight into a caller's frame buffer: row y of the
// picture goes to dest + y * rowPitch, or with bottomUp to dest + (height - 1
// - y) * rowPitch (bottom row first, as hosts lay out their frames). Only the
// width * 4 pixel bytes of each row are written; rowPitch must be at least
// that. Returns 0 or 99.
//
// A failed frame's destination must not be used (cached, shown or kept):
// a header, size or argument that is refused writes nothing, but an LZF
// frame of 1920x1080 pixels or more is decoded row by row while its stream is
// unpacked (PipelinedDecode.h), so a stream found bad part-way through leaves
// the rows decoded before that. Smaller frames, and large ones when no decode
// worker is idle, are checked whole before the first pixel is stored.
//
// `scratch`, when given, is working memory the caller keeps from one decode to
// the next (one per open movie or stream): the LZF output of a frame goes
// there, grown only when a frame needs more, instead of into memory taken and
// given back per frame. The caller releases it with keo::release. Pipelined
// frames use the decode worker's memory instead.
int DecodeFramePayloadInto(const unsigned char* sample, unsigned int sampleLength, int width,
                           int height, unsigned char* dest, long long rowPitch, bool bottomUp,
                           keo::ByteBuffer* scratch = nullptr);

// DecodeFramePayloadInto on the calling thread alone, no decode worker asked
// to help: for a frame decoded beside another, one per core
// (FrameDecodeAhead.h). A failed frame's destination holds nothing of use.
int KEODecodeFramePayloadAlone(const unsigned char* sample, unsigned int sampleLength, int width,
                               int height, unsigned char* dest, long long rowPitch, bool bottomUp,
                               keo::ByteBuffer* scratch);
