// Utilities over the simple uncompressed file layout of SDK_File (see
// ImporterLocalRec.h), read through a file-fork stand-in. The importer entry
// does not call them; they serve tools that write and read that layout.
#pragma once

#include <cstdint>
#include <cstdio>

#include "KEOHostAPI.h"
#include "importer/ImporterLocalRec.h"

// A file fork: an open stream and the position calls that the utilities
// use. A fork reference (void*) is an SDKFork*.
struct SDKFork {
    FILE* stream;
};

enum { kSDKForkNoError = 0, kSDKForkPositionError = -1, kSDKForkReadError = 2 };

// Moves to `offset` from the start (fromCurrent false) or from the current
// position; 0 or kSDKForkPositionError.
int SDKForkSetPosition(SDKFork* fork, int64_t offset, bool fromCurrent);
// Reads exactly `size` bytes; 0 or kSDKForkReadError (also for a short read).
int SDKForkRead(SDKFork* fork, int64_t size, void* buffer);

// Reads frame `frame` (frameSize bytes) of the layout into `destination`;
// 0, or 2 when the read fails.
int ReadSDK_File(void* fork, int frameSize, int frame, char* destination);

// Positions the fork at sample `sample` of the first channel's float audio;
// returns the position call's result.
int setPointerToAudioStart(ImporterLocalRec8** record, long long sample, void* fork);

// Reads `count` floats for each channel from the current position, skipping
// the rest of each channel's `length` floats; 2 on a read error, otherwise
// the last position call's result (0 without channels).
int readAudioToBuffer(long long count, long long length, int channels, void* fork,
                      float** channelBuffers);

// Releases `old` and returns a new, uninitialised block of `size` bytes; the
// old contents are not carried over.
void* myRealloc(void* old, int size);
void myFree(void* block);

// The reverse of AddRowPadding: packs rows of pitch rowBytes into `dst`.
void RemoveRowPadding(char* src, char* dst, int rowBytes, int bytesPerPixel, int width, int height);

namespace sdkfile {
// Bytes per pixel of a picture in the layout: always 4.
int GetPixelFormatSize(unsigned int pixelFormat);
} // namespace sdkfile

// The 4-byte pixel at (x x xScale, y x yScale), truncated, of a packed
// picture of header.width x header.height pixels; coordinates past the
// picture are held at its last column and row.
uint32_t GetSrcPix(char* source, SDK_File header, unsigned int x, unsigned int y, float xScale,
                   float yScale);

// Nearest-neighbour scaling of a packed header.width x header.height
// picture of frameSize bytes into the image record. 0, or imOtherErr when
// the picture or the destination is not usable.
int ScaleAndBltFrame(imStdParms* stdParms, SDK_File header, unsigned int frameSize, char* source,
                     imImportImageRec* image);
