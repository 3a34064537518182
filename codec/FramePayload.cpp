// Header layout and sizes of the KEO frame payload, and its decode pipeline.
#include "codec/FramePayload.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/ByteOrder.h"
#include "codec/DXT24Decode.h"
#include "codec/DecodeThreads.h"
#include "codec/DecodeWorkers.h"
#include "codec/LZFDecode.h"
#include "codec/PipelinedDecode.h"

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

// A sample whose header passed: its layout, the block-data size, and the
// payload, which never reaches past the sample whatever payloadSize claims.
struct Payload {
    KEOBlockLayout layout;
    bool isLZF;
    uint32_t blockBytes;
    const unsigned char* bytes;
    uint32_t length;
};

// Header checks and sizes; false on any failure, before anything is
// allocated or written.
bool readPayload(const unsigned char* sample, unsigned int sampleLength, int width, int height,
                 Payload* payload) {
    // The header and at least one payload byte; with headerSize at most 28 the
    // payload then always starts inside the sample.
    if (sample == nullptr || sampleLength < kKEOFrameHeaderSize + 1)
        return false;
    KEOFrameHeader header;
    header.read(sample);
    if (!KEOFrameHeaderAcceptable(header))
        return false;
    uint64_t size;
    // Within the picture limit the row stride of the DXT24 decoders (a signed
    // 32-bit byte count) fits as well.
    if (!KEOPictureFits(width, height) ||
        !KEOLayoutBlockDataSize(width, height, header.layout(), &size))
        return false;
    payload->layout = header.layout();
    payload->isLZF = header.isLZF != 0;
    payload->blockBytes = static_cast<uint32_t>(size);
    payload->bytes = sample + header.headerSize;
    const uint32_t available = sampleLength - header.headerSize;
    payload->length = header.payloadSize < available ? header.payloadSize : available;
    return true;
}

// The LZF loop for a layout's blocks (LZFDecode.h): the alpha halves of DXT5
// blocks give token sequences that the select loop unpacks faster, opaque
// blocks ones that the branching loop does.
KEOLZFPath lzfPathFor(KEOBlockLayout layout) {
    if (KEOLayoutHasAlpha(layout) && KEOLZFPathAvailable(kKEOLZFSelect))
        return kKEOLZFSelect;
    return kKEOLZFBest;
}

// The block data, either inside the sample itself, in the caller's scratch,
// or in a buffer of our own (`owned`, which the caller frees).
struct BlockSource {
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

// The whole block data before any pixel is written; false (with nothing to
// free) on failure. An LZF stream gets only the bytes up to the sample's end
// (a cut stream then fails the length check), and a plain payload stops
// there, the blocks it lacks decoding from zeros.
bool takeBlocks(const Payload& payload, keo::ByteBuffer* scratch, BlockSource* source) {
    source->owned = nullptr;
    if (!payload.isLZF && payload.length >= payload.blockBytes) {
        // A full plain payload is decoded where it lies.
        source->blocks = payload.bytes;
        return true;
    }
    unsigned char* room = blockRoom(payload.blockBytes, scratch, source);
    if (room == nullptr)
        return false;
    source->blocks = room;
    if (!payload.isLZF) {
        std::memcpy(room, payload.bytes, payload.length);
        std::memset(room + payload.length, 0, payload.blockBytes - payload.length);
        return true;
    }
    // Every byte is checked by the length test, so no zero-fill.
    if (KEOLZFDecompress(payload.bytes, payload.length, room, payload.blockBytes,
                         lzfPathFor(payload.layout)) == payload.blockBytes)
        return true;
    std::free(source->owned);
    source->owned = nullptr;
    return false;
}

// The picture, from a valid payload: large LZF frames through the pipeline
// when a worker is idle, everything else unpacked first and then decoded,
// large pictures on as many threads as the process-wide setting allows.
// `alone` keeps it all on the calling thread.
int decodePicture(const Payload& payload, int width, int height, unsigned char* row0,
                  ptrdiff_t pitch, keo::ByteBuffer* scratch, bool alone) {
    const uint32_t w = static_cast<uint32_t>(width);
    const uint32_t h = static_cast<uint32_t>(height);
    if (payload.layout == kKEOLayoutDXT24 || payload.layout == kKEOLayoutDXT24Alpha)
        InitThirdsTable();
    if (payload.isLZF && !alone && KEOPipelineWanted(w, h)) {
        const KEOPipelineResult result =
            KEODecodeLZFPipelined(payload.bytes, payload.length, payload.layout, w, h, row0, pitch,
                                  payload.blockBytes, lzfPathFor(payload.layout));
        if (result != kKEOPipelineNotRun)
            return result == kKEOPipelineDecoded ? kKEODecodeOK : kKEODecodeFailed;
    }
    BlockSource source;
    if (!takeBlocks(payload, scratch, &source))
        return kKEODecodeFailed;
    KEODecodeBlocksOnThreads(payload.layout, source.blocks, w, h, row0, pitch,
                             alone ? 1 : KEODecodeThreadsFor(w, h));
    std::free(source.owned);
    return kKEODecodeOK;
}

} // namespace

int DecodeFramePayload(const unsigned char* sample, unsigned int sampleLength, int width,
                       int height, unsigned char** picture) {
    if (picture == nullptr)
        return kKEODecodeFailed;
    *picture = nullptr;
    Payload payload;
    if (!readPayload(sample, sampleLength, width, height, &payload))
        return kKEODecodeFailed;
    // The blocks cover the whole picture and every pixel is written, so the
    // picture needs no zero-fill.
    const size_t pitch = static_cast<size_t>(width) * 4;
    unsigned char* pixels = static_cast<unsigned char*>(std::malloc(pitch * height));
    if (pixels == nullptr)
        return kKEODecodeFailed;
    if (decodePicture(payload, width, height, pixels, static_cast<ptrdiff_t>(pitch), nullptr,
                      false) != kKEODecodeOK) {
        std::free(pixels);
        return kKEODecodeFailed;
    }
    *picture = pixels;
    return kKEODecodeOK;
}

namespace {

int decodeInto(const unsigned char* sample, unsigned int sampleLength, int width, int height,
               unsigned char* dest, long long rowPitch, bool bottomUp, keo::ByteBuffer* scratch,
               bool alone) {
    if (dest == nullptr || width < 1 || height < 1 || rowPitch < static_cast<long long>(width) * 4)
        return kKEODecodeFailed;
    // The last row must be addressable; a pitch this large means a
    // destination no frame buffer can be.
    if (rowPitch > PTRDIFF_MAX / height)
        return kKEODecodeFailed;
    Payload payload;
    if (!readPayload(sample, sampleLength, width, height, &payload))
        return kKEODecodeFailed;
    const ptrdiff_t pitch = static_cast<ptrdiff_t>(rowPitch);
    unsigned char* row0 = bottomUp ? dest + static_cast<ptrdiff_t>(height - 1) * pitch : dest;
    KEOFrameDecodeBegins();
    const int result =
        decodePicture(payload, width, height, row0, bottomUp ? -pitch : pitch, scratch, alone);
    KEOFrameDecodeEnds();
    return result;
}

} // namespace

int DecodeFramePayloadInto(const unsigned char* sample, unsigned int sampleLength, int width,
                           int height, unsigned char* dest, long long rowPitch, bool bottomUp,
                           keo::ByteBuffer* scratch) {
    return decodeInto(sample, sampleLength, width, height, dest, rowPitch, bottomUp, scratch,
                      false);
}

int KEODecodeFramePayloadAlone(const unsigned char* sample, unsigned int sampleLength, int width,
                               int height, unsigned char* dest, long long rowPitch, bool bottomUp,
                               keo::ByteBuffer* scratch) {
    return decodeInto(sample, sampleLength, width, height, dest, rowPitch, bottomUp, scratch, true);
}
