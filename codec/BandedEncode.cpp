// Band by band: blocks of any layout, then LZF of the band.
#include "codec/BandedEncode.h"

#include <lzf.h>

#include <cstdint>
#include <cstring>

#include "codec/DXT1DXT5Encode.h"
#include "codec/DXT24Encode.h"

namespace {

void encodeBand(KEOBandedFrame* frame, int band) {
    const int firstRow = band * kKEOEncodeBandBlockRows * 4;
    const int rowsLeft = frame->height - firstRow;
    const int rows =
        rowsLeft < kKEOEncodeBandBlockRows * 4 ? rowsLeft : kKEOEncodeBandBlockRows * 4;
    const int64_t stride = frame->rowBytes != 0 ? frame->rowBytes : int64_t(frame->width) * 4;
    const unsigned char* source = frame->source + firstRow * stride;
    unsigned char* blocks = frame->blocks + static_cast<size_t>(band) * frame->bandBytes;
    // A band starts on a block row and all but the last have a multiple of
    // four rows, so its edge blocks are the frame's: the last band repeats
    // the frame's bottom row as the whole-frame encode does.
    const bool alpha = KEOLayoutHasAlpha(frame->layout);
    if (KEOLayoutIsDXT24(frame->layout))
        _stbCompressARGB32_to24(blocks, source, frame->width, rows, frame->rowBytes, alpha);
    else
        KEOEncodeDXT1DXT5Region(blocks, source, frame->width, rows, frame->rowBytes, alpha);
    if (!frame->compress)
        return;
    const size_t bytes = static_cast<size_t>((rows + 3) / 4) * frame->blockRowBytes;
    frame->packedLengths[band] =
        lzf_compress(blocks, static_cast<unsigned int>(bytes),
                     frame->packed + static_cast<size_t>(band) * frame->bandRoom,
                     static_cast<unsigned int>(frame->bandRoom));
}

} // namespace

bool KEOPlanBands(KEOBandedFrame* frame) {
    const int blockSize = KEOLayoutBlockSize(frame->layout);
    if (frame->width < 1 || frame->height < 1 || blockSize == 0)
        return false;
    const int64_t blocksX = (int64_t(frame->width) + 3) / 4;
    const int64_t blocksY = (int64_t(frame->height) + 3) / 4;
    frame->blockRowBytes = static_cast<size_t>(blocksX) * blockSize;
    frame->bandCount =
        static_cast<int>((blocksY + kKEOEncodeBandBlockRows - 1) / kKEOEncodeBandBlockRows);
    frame->bandBytes = frame->blockRowBytes * kKEOEncodeBandBlockRows;
    // lzf_compress never needs more than 33 bytes per 32 and a few more.
    frame->bandRoom = frame->bandBytes + frame->bandBytes / 16 + 64;
    frame->nextBand.store(0);
    return true;
}

void KEOEncodeBands(KEOBandedFrame* frame) {
    for (int band = frame->nextBand.fetch_add(1); band < frame->bandCount;
         band = frame->nextBand.fetch_add(1))
        encodeBand(frame, band);
}

size_t KEOPackedBandsLength(const KEOBandedFrame* frame) {
    size_t total = 0;
    for (int band = 0; band < frame->bandCount; ++band) {
        if (frame->packedLengths[band] == 0)
            return 0;
        total += frame->packedLengths[band];
    }
    return total;
}

void KEOJoinPackedBands(const KEOBandedFrame* frame, unsigned char* to) {
    for (int band = 0; band < frame->bandCount; ++band) {
        std::memcpy(to, frame->packed + static_cast<size_t>(band) * frame->bandRoom,
                    frame->packedLengths[band]);
        to += frame->packedLengths[band];
    }
}
