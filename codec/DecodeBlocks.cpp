// The portable block decoder and the choice between it and the SSSE3 one.
#include "codec/DecodeBlocks.h"

#include <cstring>

#include "base/ByteOrder.h"
#include "codec/DXT1DXT5Decode.h"
#include "codec/DXT24Decode.h"

namespace {

// Stores pixelAt(k) for pixels k = 4j + i, j < rows, i < columns, of a block
// whose top-left pixel is at `at`. memcpy keeps rows of any pitch and
// alignment legal; it compiles to one store per pixel.
template <typename PixelAt>
inline void writeBlock(unsigned char* at, ptrdiff_t pitch, uint32_t columns, uint32_t rows,
                       PixelAt pixelAt) {
    for (uint32_t j = 0; j < rows; ++j, at += pitch)
        for (uint32_t i = 0; i < columns; ++i) {
            const uint32_t word = pixelAt(4 * j + i);
            std::memcpy(at + 4 * i, &word, 4);
        }
}

template <KEOBlockLayout layout>
void decodePortable(const unsigned char* block, uint32_t width, uint32_t height,
                    unsigned char* row0, ptrdiff_t pitch) {
    const uint32_t blocksX = width / 4 + (width % 4 != 0);
    const uint32_t blocksY = height / 4 + (height % 4 != 0);
    const int blockSize = KEOLayoutBlockSize(layout);
    for (uint32_t by = 0; by < blocksY; ++by) {
        const uint32_t rows = height - 4 * by < 4 ? height - 4 * by : 4;
        unsigned char* blockRow = row0 + static_cast<ptrdiff_t>(by) * 4 * pitch;
        for (uint32_t bx = 0; bx < blocksX; ++bx, block += blockSize) {
            const uint32_t columns = width - 4 * bx < 4 ? width - 4 * bx : 4;
            unsigned char* at = blockRow + static_cast<ptrdiff_t>(bx) * 16;
            uint32_t palette[4];
            if (layout == kKEOLayoutDXT1 || layout == kKEOLayoutDXT24) {
                uint32_t indices;
                if (layout == kKEOLayoutDXT1) {
                    BuildColourPaletteDXT(block, true, 255, palette);
                    indices = keo::loadLE32(block + 4);
                } else {
                    BuildPaletteDXT24(block, 255, palette);
                    indices = keo::loadLE32(block + 6);
                }
                writeBlock(at, pitch, columns, rows,
                           [&](uint32_t k) { return palette[(indices >> (2 * k)) & 3]; });
            } else {
                uint32_t alphaWords[16];
                ExpandAlphaBlockDXT5(block, alphaWords);
                const unsigned char* colour = block + kDXT5AlphaBlockSize;
                uint32_t indices;
                if (layout == kKEOLayoutDXT5) {
                    BuildColourPaletteDXT(colour, false, 0, palette);
                    indices = keo::loadLE32(colour + 4);
                } else {
                    BuildPaletteDXT24(colour, 0, palette);
                    indices = keo::loadLE32(colour + 6);
                }
                writeBlock(at, pitch, columns, rows, [&](uint32_t k) {
                    return palette[(indices >> (2 * k)) & 3] | alphaWords[k];
                });
            }
        }
    }
}

bool haveSSSE3() {
#if KEO_HAVE_SSSE3_PATH
    static const bool supported = __builtin_cpu_supports("ssse3");
    return supported;
#else
    return false;
#endif
}

} // namespace

bool KEODecodePathAvailable(KEODecodePath path) {
    return path != kKEODecodeSSSE3 || haveSSSE3();
}

void KEODecodeBlocksPortable(KEOBlockLayout layout, const unsigned char* blockData, uint32_t width,
                             uint32_t height, unsigned char* row0, ptrdiff_t pitch) {
    if (width == 0 || height == 0)
        return;
    if (layout == kKEOLayoutDXT24 || layout == kKEOLayoutDXT24Alpha)
        InitThirdsTable();
    switch (layout) {
    case kKEOLayoutDXT1:
        decodePortable<kKEOLayoutDXT1>(blockData, width, height, row0, pitch);
        break;
    case kKEOLayoutDXT5:
        decodePortable<kKEOLayoutDXT5>(blockData, width, height, row0, pitch);
        break;
    case kKEOLayoutDXT24:
        decodePortable<kKEOLayoutDXT24>(blockData, width, height, row0, pitch);
        break;
    case kKEOLayoutDXT24Alpha:
        decodePortable<kKEOLayoutDXT24Alpha>(blockData, width, height, row0, pitch);
        break;
    case kKEOLayoutCount:
        break;
    }
}

bool KEODecodeBlocks(KEOBlockLayout layout, const unsigned char* blockData, uint32_t width,
                     uint32_t height, unsigned char* row0, ptrdiff_t pitch, KEODecodePath path) {
    if (!KEODecodePathAvailable(path))
        return false;
#if KEO_HAVE_SSSE3_PATH
    if (path != kKEODecodePortable && haveSSSE3()) {
        KEODecodeBlocksSSSE3(layout, blockData, width, height, row0, pitch);
        return true;
    }
#endif
    KEODecodeBlocksPortable(layout, blockData, width, height, row0, pitch);
    return true;
}

void BlockDecompressImageDXT1(uint32_t width, uint32_t height, const unsigned char* blockData,
                              uint32_t* picture) {
    KEODecodeBlocks(kKEOLayoutDXT1, blockData, width, height,
                    reinterpret_cast<unsigned char*>(picture), static_cast<ptrdiff_t>(width) * 4);
}

void BlockDecompressImageDXT5(uint32_t width, uint32_t height, const unsigned char* blockData,
                              uint32_t* picture) {
    KEODecodeBlocks(kKEOLayoutDXT5, blockData, width, height,
                    reinterpret_cast<unsigned char*>(picture), static_cast<ptrdiff_t>(width) * 4);
}

// The table is filled even when the SSSE3 path, which computes the mixes in
// its lanes, does the work: callers rely on it being ready after a decode.
void DecodeDXT24(const unsigned char* blockData, unsigned char* picture, int width, int height,
                 int stride) {
    InitThirdsTable();
    if (width < 1 || height < 1)
        return;
    KEODecodeBlocks(kKEOLayoutDXT24, blockData, static_cast<uint32_t>(width),
                    static_cast<uint32_t>(height), picture, stride);
}
