// Header layout and sizes of the KEO frame payload, and its decode pipeline.
#include "codec/FramePayload.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/ByteOrder.h"
#include "codec/DXT24Decode.h"
#include "codec/DecodeBlocks.h"
#include "codec/DecodeThreads.h"
#include "codec/LZFDecode.h"

void KEOFrameHeader::read(const unsigned char* bytes) {
    headerSize = keo::loadLE32(bytes + 0);
    formatVersion = bytes[4];
    hasAlpha = bytes[5];
    isLZF = bytes[6];
    payloadSize = keo::loadLE32(bytes + 16);
    isOpaque = bytes[24];
    prefersDXT1 = bytes[25];
    isDXT24 = bytes[26];
}

void KEOFrameHeader::write(unsigned char* bytes) const {
    std::memset(bytes, 0, kKEOFrameHeaderSize);
    keo::storeLE32(bytes + 0, headerSize);
    bytes[4] = formatVersion;
    bytes[5] = hasAlpha;
    bytes[6] = isLZF;
    keo::storeLE32(bytes + 16, payloadSize);
    bytes[24] = isOpaque;
    bytes[25] = prefersDXT1;
    bytes[26] = isDXT24;
}

bool KEOPictureFits(int width, int height) {
    return width >= 1 && height >= 1 &&
           static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4 < kKEOMaxPictureBytes;
}

KEOBlockLayout KEOFrameHeader::layout() const {
    return KEOLayoutOfFlags(isDXT24, hasAlpha);
}

bool KEOLayoutBlockDataSize(int width, int height, KEOBlockLayout layout, uint64_t* size) {
    const int blockSize = KEOLayoutBlockSize(layout);
    if (width < 1 || height < 1 || blockSize == 0)
        return false;
    const uint64_t blocksX = (static_cast<uint64_t>(width) + 3) / 4;
    const uint64_t blocksY = (static_cast<uint64_t>(height) + 3) / 4;
    const uint64_t bytes = blocksX * blocksY * static_cast<uint64_t>(blockSize);
    if (bytes > (uint64_t(1) << 31))
        return false;
    *size = bytes;
    return true;
}

bool KEOBlockDataSize(int width, int height, bool isDXT24, bool hasAlpha, uint64_t* size) {
    return KEOLayoutBlockDataSize(width, height,
                                  KEOLayoutOfFlags(isDXT24 ? 1 : 0, hasAlpha ? 1 : 0), size);
}

// Header checks in the order that decides which one a bad header fails.
bool KEOFrameHeaderAcceptable(const KEOFrameHeader& header) {
    if (header.formatVersion > 1)
        return false;
    if (header.headerSize > kKEOFrameHeaderSize)
        return false;
    if (header.isLZF > 1)
        return false;
    return header.isDXT24 <= 1;
}

namespace {

// What a valid sample decodes from: the layout, and the block data, either
// inside the sample itself, in the caller's scratch, or in a buffer of our
// own that the caller frees.
struct BlockSource {
    KEOBlockLayout layout;
    const unsigned char* blocks;
    unsigned char* owned;
};

// Room for the block data: the caller's scratch when there is one, else a
// buffer of our own (recorded in `owned`). Null when memory cannot be had.
unsigned char* blockRoom(size_t bytes, keo::ByteBuffer* scratch, BlockSource* source) {
    if (scratch)
        return keo::reserve(*scratch, bytes);
    source->owned = static_cast<unsigned char*>(std::malloc(bytes));
    return source->owned;
}

// Header checks, sizes, and the block data; false (with nothing to free) on
// any failure, before a single pixel is written. The payload never reaches
// past the sample, whatever payloadSize claims: an LZF stream gets only the
// bytes up to the sample's end (a cut stream then fails the length check),
// and a plain payload stops there, the blocks it lacks decoding from zeros.
bool prepareBlocks(const unsigned char* sample, unsigned int sampleLength, int width, int height,
                   keo::ByteBuffer* scratch, BlockSource* source) {
    // The header and at least one payload byte; with headerSize at most 28 the
    // payload then always starts inside the sample.
    if (sample == nullptr || sampleLength < kKEOFrameHeaderSize + 1)
        return false;
    KEOFrameHeader header;
    header.read(sample);
    if (!KEOFrameHeaderAcceptable(header))
        return false;

    const bool isDXT24 = header.isDXT24 == 1;
    const bool hasAlpha = header.hasAlpha != 0;
    uint64_t size;
    // Within the picture limit the row stride of the DXT24 decoders (a signed
    // 32-bit byte count) fits as well.
    if (!KEOPictureFits(width, height) ||
        !KEOBlockDataSize(width, height, isDXT24, hasAlpha, &size))
        return false;
    const unsigned int blockBytes = static_cast<unsigned int>(size);

    source->layout = header.layout();
    source->owned = nullptr;
    const unsigned char* payload = sample + header.headerSize;
    const uint32_t available = sampleLength - header.headerSize;
    const uint32_t payloadBytes = header.payloadSize < available ? header.payloadSize : available;
    if (header.isLZF) {
        // Every byte is checked by the length test, so no zero-fill.
        unsigned char* room = blockRoom(blockBytes, scratch, source);
        if (room == nullptr)
            return false;
        if (KEOLZFDecompress(payload, payloadBytes, room, blockBytes) != blockBytes) {
            std::free(source->owned);
            source->owned = nullptr;
            return false;
        }
        source->blocks = room;
    } else if (payloadBytes >= blockBytes) {
        // A full plain payload is decoded where it lies.
        source->blocks = payload;
    } else {
        // A short plain payload: the blocks it lacks decode from zeros.
        unsigned char* room = blockRoom(blockBytes, scratch, source);
        if (room == nullptr)
            return false;
        std::memcpy(room, payload, payloadBytes);
        std::memset(room + payloadBytes, 0, blockBytes - payloadBytes);
        source->blocks = room;
    }
    if (isDXT24)
        InitThirdsTable();
    return true;
}

// The blocks into the picture, large pictures on as many threads as the
// process-wide setting allows.
void decodeBlocks(const BlockSource& source, int width, int height, unsigned char* row0,
                  ptrdiff_t pitch) {
    const uint32_t w = static_cast<uint32_t>(width);
    const uint32_t h = static_cast<uint32_t>(height);
    KEODecodeBlocksOnThreads(source.layout, source.blocks, w, h, row0, pitch,
                             KEODecodeThreadsFor(w, h));
}

} // namespace

int DecodeFramePayload(const unsigned char* sample, unsigned int sampleLength, int width,
                       int height, unsigned char** picture) {
    if (picture == nullptr)
        return kKEODecodeFailed;
    *picture = nullptr;
    BlockSource source;
    if (!prepareBlocks(sample, sampleLength, width, height, nullptr, &source))
        return kKEODecodeFailed;

    // The blocks cover the whole picture and every pixel is written, so the
    // picture needs no zero-fill.
    const size_t pitch = static_cast<size_t>(width) * 4;
    unsigned char* pixels = static_cast<unsigned char*>(std::malloc(pitch * height));
    if (pixels == nullptr) {
        std::free(source.owned);
        return kKEODecodeFailed;
    }
    decodeBlocks(source, width, height, pixels, static_cast<ptrdiff_t>(pitch));
    std::free(source.owned);
    *picture = pixels;
    return kKEODecodeOK;
}

int DecodeFramePayloadInto(const unsigned char* sample, unsigned int sampleLength, int width,
                           int height, unsigned char* dest, long long rowPitch, bool bottomUp,
                           keo::ByteBuffer* scratch) {
    if (dest == nullptr || width < 1 || height < 1 || rowPitch < static_cast<long long>(width) * 4)
        return kKEODecodeFailed;
    // The last row must be addressable; a pitch this large means a
    // destination no frame buffer can be.
    if (rowPitch > PTRDIFF_MAX / height)
        return kKEODecodeFailed;
    BlockSource source;
    if (!prepareBlocks(sample, sampleLength, width, height, scratch, &source))
        return kKEODecodeFailed;

    const ptrdiff_t pitch = static_cast<ptrdiff_t>(rowPitch);
    unsigned char* row0 = bottomUp ? dest + static_cast<ptrdiff_t>(height - 1) * pitch : dest;
    decodeBlocks(source, width, height, row0, bottomUp ? -pitch : pitch);
    std::free(source.owned);
    return kKEODecodeOK;
}
