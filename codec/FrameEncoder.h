// Frame encoding: one ARGB32 frame into one KEO frame payload.
//
// A caller says what it wants in a KEOEncodeSettings record: the block layout
// (DXT1, DXT5 or DXT24), whether LZF is tried, the header's prefersDXT1 flag,
// and the encoder threads for frames of at least 29 rows (smaller ones are
// encoded on the calling thread). The payload is the 28-byte header of
// FramePayload.h followed by the block data, plain, or with LZF tried as one
// LZF stream when that is shorter. The blocks are encoded and compressed in
// bands (BandedEncode.h), so the bytes are the same for any number of threads.
//
// The exporter's three settings map to a record thus (KEOExportSettings):
//
//   "KEOOptimizeFor"   transparency off   transparency on   LZF tried   prefersDXT1
//   0                  DXT24              DXT5              yes         0
//   1                  DXT1               DXT5              yes         1
//   2                  DXT24              DXT5              no          0
//   any other          DXT1               DXT5              yes         0
//
// Transparency is "KEOTransparency" != 0; "KEOEncodeThreads" is the thread
// count. codec/ knows nothing of the host: the caller reads the three
// settings (the exporter from its export record, exporter/ExportParams.h)
// and passes them in. Only one frame encode runs at a time in the process;
// others wait.
#pragma once

#include <cstdint>

#include "codec/BlockLayout.h"

struct KEOEncodeSettings {
    KEOBlockLayout layout; // DXT1, DXT5 or DXT24; DXT24+alpha is not written
    bool tryLZF;           // an LZF stream where it is shorter than the blocks
    bool prefersDXT1;      // stored in the header only
    int threads;           // below 2: the calling thread
};

// The record of the exporter's three settings, by the table above.
KEOEncodeSettings KEOExportSettings(int transparency, int optimizeFor, int encodeThreads);

// Bytes a destination must hold for any payload of a width x height frame
// (header plus the largest block data written, DXT5). False for sides below 1
// or frames too large to encode.
bool KEOMaxFramePayloadSize(int width, int height, uint64_t* bytes);

// Encodes the frame as the settings ask and returns the sample length (28 +
// payload bytes). source: ARGB32, top row first, rows rowBytes apart (0:
// width * 4). destination: room for 28 + the block data of the layout.
// Returns 0, writing nothing, for a null buffer, sides below 1, a frame too
// large, a layout the writer does not make, or a failed allocation.
int KEOEncodeFrame(const unsigned char* source, unsigned char* destination, int width, int height,
                   int rowBytes, const KEOEncodeSettings& settings);

// KEOEncodeFrame with the record of the exporter's three settings.
int CompressDXTFrame(const unsigned char* source, unsigned char* destination, int width, int height,
                     int rowBytes, int transparency, int optimizeFor, int encodeThreads);
