// Header layout and sizes of the KEO frame payload, and its decode pipeline.
#include "codec/FramePayload.h"

#include <lzf.h>

#include <cstdlib>
#include <cstring>

#include "base/ByteOrder.h"
#include "codec/DXT1DXT5Decode.h"
#include "codec/DXT24Decode.h"

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

int KEOBlockSize(bool isDXT24, bool hasAlpha) {
    if (isDXT24)
        return hasAlpha ? 18 : 10;
    return hasAlpha ? 16 : 8;
}

bool KEOBlockDataSize(int width, int height, bool isDXT24, bool hasAlpha, uint64_t* size) {
    if (width < 1 || height < 1)
        return false;
    const uint64_t blocksX = (static_cast<uint64_t>(width) + 3) / 4;
    const uint64_t blocksY = (static_cast<uint64_t>(height) + 3) / 4;
    const uint64_t bytes =
        blocksX * blocksY * static_cast<uint64_t>(KEOBlockSize(isDXT24, hasAlpha));
    if (bytes > (uint64_t(1) << 31))
        return false;
    *size = bytes;
    return true;
}

namespace {

// A frame picture of more bytes than this is refused before any allocation.
constexpr uint64_t kMaxPictureBytes = uint64_t(1) << 31;

// Header checks in the order that decides which one a bad header fails.
bool headerAcceptable(const KEOFrameHeader& header) {
    if (header.formatVersion > 1)
        return false;
    if (header.headerSize > kKEOFrameHeaderSize)
        return false;
    if (header.isLZF > 1)
        return false;
    return header.isDXT24 <= 1;
}

// Fills the zero-filled block buffer from the payload. The payload never
// reaches past the sample, whatever payloadSize claims: an LZF stream gets
// only the bytes up to the sample's end (a cut stream then fails the length
// check), and a plain copy stops there, leaving the rest of the blocks zero.
bool fillBlockData(const KEOFrameHeader& header, const unsigned char* sample,
                   unsigned int sampleLength, unsigned char* blockData, unsigned int blockBytes) {
    const unsigned char* payload = sample + header.headerSize;
    const uint32_t available = sampleLength - header.headerSize;
    const uint32_t payloadBytes = header.payloadSize < available ? header.payloadSize : available;
    if (header.isLZF)
        return lzf_decompress(payload, payloadBytes, blockData, blockBytes) == blockBytes;
    std::memcpy(blockData, payload, payloadBytes < blockBytes ? payloadBytes : blockBytes);
    return true;
}

} // namespace

int DecodeFramePayload(const unsigned char* sample, unsigned int sampleLength, int width,
                       int height, unsigned char** picture) {
    if (picture == nullptr)
        return kKEODecodeFailed;
    *picture = nullptr;
    // The header and at least one payload byte; with headerSize at most 28 the
    // payload then always starts inside the sample.
    if (sample == nullptr || sampleLength < kKEOFrameHeaderSize + 1)
        return kKEODecodeFailed;

    KEOFrameHeader header;
    header.read(sample);
    if (!headerAcceptable(header))
        return kKEODecodeFailed;

    const bool isDXT24 = header.isDXT24 == 1;
    const bool hasAlpha = header.hasAlpha != 0;
    uint64_t blockBytes;
    if (!KEOBlockDataSize(width, height, isDXT24, hasAlpha, &blockBytes))
        return kKEODecodeFailed;
    // Both sides are at least 1 here, and below 2^31, so the product fits.
    const uint64_t pictureBytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
    // The DXT24 decoders take the row stride as a signed 32-bit byte count.
    if (pictureBytes > kMaxPictureBytes || width > INT32_MAX / 4)
        return kKEODecodeFailed;

    unsigned char* blockData = static_cast<unsigned char*>(std::calloc(blockBytes, 1));
    if (blockData == nullptr)
        return kKEODecodeFailed;
    if (!fillBlockData(header, sample, sampleLength, blockData,
                       static_cast<unsigned int>(blockBytes))) {
        std::free(blockData);
        return kKEODecodeFailed;
    }

    unsigned char* pixels = static_cast<unsigned char*>(std::calloc(pictureBytes, 1));
    if (pixels == nullptr) {
        std::free(blockData);
        return kKEODecodeFailed;
    }

    // malloc'ed memory is aligned for any type, so the byte picture can be
    // handed to the decoders that address it as 32-bit pixels.
    uint32_t* pixelWords = reinterpret_cast<uint32_t*>(pixels);
    if (isDXT24 && hasAlpha)
        DecodeDXT24Alpha(blockData, pixels, width, height, width * 4);
    else if (isDXT24)
        DecodeDXT24(blockData, pixels, width, height, width * 4);
    else if (hasAlpha)
        BlockDecompressImageDXT5(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                 blockData, pixelWords);
    else
        BlockDecompressImageDXT1(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                 blockData, pixelWords);

    std::free(blockData);
    *picture = pixels;
    return kKEODecodeOK;
}
