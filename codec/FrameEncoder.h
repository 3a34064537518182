// Frame encoding: one ARGB32 frame into one KEO frame payload.
//
// The exporter's three settings choose the block layout and LZF use:
//
//   "KEOOptimizeFor"   transparency off   transparency on   LZF tried   prefersDXT1
//   0                  DXT24              DXT5              yes         0
//   1                  DXT1               DXT5              yes         1
//   2                  DXT24              DXT5              no          0
//   any other          DXT1               DXT5              yes         0
//
// Transparency is "KEOTransparency" != 0; "KEOEncodeThreads" is the number of
// encoder workers for frames of at least 29 rows (smaller ones are encoded on
// the calling thread). The payload is the 28-byte header of FramePayload.h
// followed by the block data, plain or as one LZF stream when that is
// shorter. The blocks are encoded and compressed in bands (BandedEncode.h),
// so the bytes are the same for any number of threads.
//
// codec/ knows nothing of the host: the caller reads the three settings
// (the exporter from its export record, exporter/ExportParams.h) and passes
// them in. Only one frame encode runs at a time in the process; others wait.
#pragma once

#include <cstdint>

struct KEOFrameLayout {
    bool isDXT24;
    bool hasAlpha;
    bool tryLZF;
    bool prefersDXT1;
};

KEOFrameLayout KEOChooseFrameLayout(int transparency, int optimizeFor);

// Bytes a destination must hold for any payload of a width x height frame
// (header plus the largest block data written, DXT5). False for sides below 1
// or frames too large to encode.
bool KEOMaxFramePayloadSize(int width, int height, uint64_t* bytes);

// Encodes the frame with the settings given and returns the sample length
// (28 + payload bytes). source: ARGB32, top row first, rows rowBytes apart.
// destination: room for 28 + the block data of the chosen layout. Returns 0,
// writing nothing, for a null buffer, sides below 1, a frame too large, or a
// failed allocation.
int CompressDXTFrame(const unsigned char* source, unsigned char* destination, int width, int height,
                     int rowBytes, int transparency, int optimizeFor, int encodeThreads);
