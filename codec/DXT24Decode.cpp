// DXT24 decoding through a table of two-thirds mixes.
#include "codec/DXT24Decode.h"

#include <cstddef>
#include <cstring>
#include <mutex>

#include "base/ByteOrder.h"
#include "codec/DXT1DXT5Decode.h"

unsigned char thirdsTable[256 * 256];
std::atomic<bool> initThirds{false};

namespace {

std::once_flag g_thirdsOnce;

void fillThirdsTable() {
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            thirdsTable[a * 256 + b] = static_cast<unsigned char>((2 * a + b + 1) / 3);
    // Published only now, so that a reader that sees the flag sees the table.
    initThirds.store(true, std::memory_order_release);
}

// Stores pixelAt(k) for the pixels k = 4j + i of the block at pixel (x, y)
// that lie inside the picture. The rows are `stride` bytes apart and need not
// be 4-byte aligned, hence memcpy for each pixel (one store in practice).
template <typename PixelAt>
inline void writeBlock(int x, int y, int width, int height, unsigned char* picture,
                       ptrdiff_t stride, PixelAt pixelAt) {
    unsigned char* row = picture + y * stride + static_cast<ptrdiff_t>(x) * 4;
    const int columns = width - x < 4 ? width - x : 4;
    const int rows = height - y < 4 ? height - y : 4;
    if (columns == 4 && rows == 4) {
        for (int j = 0; j < 4; ++j, row += stride)
            for (int i = 0; i < 4; ++i) {
                const uint32_t word = pixelAt(4 * j + i);
                std::memcpy(row + 4 * i, &word, 4);
            }
        return;
    }
    for (int j = 0; j < rows; ++j, row += stride)
        for (int i = 0; i < columns; ++i) {
            const uint32_t word = pixelAt(4 * j + i);
            std::memcpy(row + 4 * i, &word, 4);
        }
}

// Walks the blocks of a frame in raster order, blockSize bytes apart, and
// hands each one with its pixel position to decodeBlock.
template <typename DecodeBlock>
inline void forEachBlock(const unsigned char* blockData, int width, int height, int blockSize,
                         DecodeBlock decodeBlock) {
    InitThirdsTable();
    if (width < 1 || height < 1)
        return;
    const int blocksX = width / 4 + (width % 4 != 0);
    const int blocksY = height / 4 + (height % 4 != 0);
    for (int by = 0; by < blocksY; ++by)
        for (int bx = 0; bx < blocksX; ++bx, blockData += blockSize)
            decodeBlock(blockData, 4 * bx, 4 * by);
}

} // namespace

// The alpha byte is 255 for opaque frames and 0 when a per-pixel alpha is
// or-ed in afterwards. Six table reads replace the divisions by three.
void BuildPaletteDXT24(const unsigned char* colourBlock, uint32_t alpha, uint32_t palette[4]) {
    const uint32_t r0 = colourBlock[0], g0 = colourBlock[1], b0 = colourBlock[2];
    const uint32_t r1 = colourBlock[3], g1 = colourBlock[4], b1 = colourBlock[5];
    palette[0] = PixelWord(PackARGB(r0, g0, b0, alpha));
    palette[1] = PixelWord(PackARGB(r1, g1, b1, alpha));
    palette[2] = PixelWord(PackARGB(thirdsTable[r0 * 256 + r1], thirdsTable[g0 * 256 + g1],
                                    thirdsTable[b0 * 256 + b1], alpha));
    palette[3] = PixelWord(PackARGB(thirdsTable[r1 * 256 + r0], thirdsTable[g1 * 256 + g0],
                                    thirdsTable[b1 * 256 + b0], alpha));
}

void InitThirdsTable() {
    if (initThirds.load(std::memory_order_acquire))
        return;
    std::call_once(g_thirdsOnce, fillThirdsTable);
}

void DecodeDXT24(const unsigned char* blockData, unsigned char* picture, int width, int height,
                 int stride) {
    forEachBlock(blockData, width, height, kDXT24BlockSize,
                 [&](const unsigned char* block, int x, int y) {
                     uint32_t palette[4];
                     BuildPaletteDXT24(block, 255, palette);
                     const uint32_t indices = keo::loadLE32(block + 6);
                     writeBlock(x, y, width, height, picture, stride,
                                [&](int k) { return palette[(indices >> (2 * k)) & 3]; });
                 });
}

void DecodeDXT24Alpha(const unsigned char* blockData, unsigned char* picture, int width, int height,
                      int stride) {
    forEachBlock(blockData, width, height, kDXT24AlphaBlockSize,
                 [&](const unsigned char* block, int x, int y) {
                     uint32_t alphaWords[16];
                     ExpandAlphaBlockDXT5(block, alphaWords);
                     const unsigned char* colour = block + kDXT5AlphaBlockSize;
                     uint32_t palette[4];
                     BuildPaletteDXT24(colour, 0, palette);
                     const uint32_t indices = keo::loadLE32(colour + 6);
                     writeBlock(x, y, width, height, picture, stride, [&](int k) {
                         return palette[(indices >> (2 * k)) & 3] | alphaWords[k];
                     });
                 });
}
