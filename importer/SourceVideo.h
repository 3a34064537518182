// Delivering decoded frames into host frames.
#pragma once

#include <cstdint>

#include "KEOHostAPI.h"
#include "importer/ImporterLocalRec.h"

// The largest side a host frame's 16-bit bounds can state.
constexpr int kMaxFrameSide = 32767;

// True when frames of a width x height movie can reach the host: the decoder
// takes the picture (KEOPictureFits) and a host frame can have its size. A
// movie of any other size is refused when it is opened and described, so
// the host never plans for a picture that cannot come.
bool PictureCanBeDelivered(int width, int height);

// Reads frame `frame` and decodes it into `dest` in one pass, the bottom row
// of the picture first, rows rowBytes apart (0: packed, width x 4); only the
// width x 4 pixel bytes of each row are written. Returns 0, or 99 with `dest`
// untouched. `frameFormat`, when given, must ask for the movie's own size.
int ReadFrameIntoRows(ImporterLocalRec8* rec, int frame, const imFrameFormat* frameFormat,
                      char* dest, int64_t rowBytes);

// Reads, decodes and copies frame `frame` into `dest` upside down (packed
// rows, the bottom row of the picture first). Returns 0, or 99 with `dest`
// untouched. `frameFormat`, when given, must ask for the movie's own size.
int ReadFrameToBuffer(imStdParms* stdParms, ImporterLocalRec8** record, int frame,
                      imFrameFormat* frameFormat, void* reserved, char* dest);

// Spreads `height` packed rows of width x bytesPerPixel bytes out to a pitch
// of rowBytes, in place when src == dst. Nothing moves when the rows are
// already as wide as the pitch.
void AddRowPadding(char* src, char* dst, unsigned int rowBytes, unsigned int bytesPerPixel,
                   unsigned int width, unsigned int height);

// Bytes per pixel of a host pixel format.
int GetPixelFormatSize(PrPixelFormat pixelFormat);
