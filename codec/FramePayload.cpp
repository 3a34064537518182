// Header layout and sizes of the KEO frame payload.
#include "codec/FramePayload.h"

#include <cstring>

#include "base/ByteOrder.h"

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
    const uint64_t bytes = blocksX * blocksY * static_cast<uint64_t>(KEOBlockSize(isDXT24, hasAlpha));
    if (bytes > (uint64_t(1) << 31))
        return false;
    *size = bytes;
    return true;
}
