// DXT1 and DXT5 block decoding with the codec's exact integer arithmetic.
#include "codec/DXT1DXT5Decode.h"

#include <cstddef>
#include <cstring>

#include "base/ByteOrder.h"

uint32_t PackARGB(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return a | r << 8 | g << 16 | b << 24;
}

uint32_t PixelWord(uint32_t packedARGB) {
    // Spelled as a byte store and a reload so that big-endian machines get the
    // same bytes in memory; on little-endian ones this folds to nothing.
    unsigned char bytes[4];
    keo::storeLE32(bytes, packedARGB);
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Not a rounded 255v / 31: a few values land one lower (20 gives 164, not
// 165). Every reader of KEO frames has to produce the same bytes, so the
// arithmetic is kept exactly as it is.
uint32_t Expand5To8(uint32_t v) {
    const uint32_t t = v * 255 + 16;
    return (t / 32 + t) / 32;
}

uint32_t Expand6To8(uint32_t v) {
    const uint32_t t = v * 255 + 32;
    return (t / 64 + t) / 64;
}

// The alpha byte is 255 for DXT1 and 0 for DXT5, whose per-pixel alpha is
// or-ed in afterwards.
void BuildColourPaletteDXT(const unsigned char* colourBlock, bool allowThreeColour, uint32_t alpha,
                           uint32_t palette[4]) {
    const uint32_t c0 = keo::loadLE16(colourBlock);
    const uint32_t c1 = keo::loadLE16(colourBlock + 2);
    const uint32_t r0 = Expand5To8(c0 >> 11), g0 = Expand6To8((c0 >> 5) & 63);
    const uint32_t b0 = Expand5To8(c0 & 31);
    const uint32_t r1 = Expand5To8(c1 >> 11), g1 = Expand6To8((c1 >> 5) & 63);
    const uint32_t b1 = Expand5To8(c1 & 31);

    palette[0] = PixelWord(PackARGB(r0, g0, b0, alpha));
    palette[1] = PixelWord(PackARGB(r1, g1, b1, alpha));
    if (!allowThreeColour || c0 > c1) {
        palette[2] =
            PixelWord(PackARGB((2 * r0 + r1) / 3, (2 * g0 + g1) / 3, (2 * b0 + b1) / 3, alpha));
        palette[3] =
            PixelWord(PackARGB((r0 + 2 * r1) / 3, (g0 + 2 * g1) / 3, (b0 + 2 * b1) / 3, alpha));
    } else {
        // Three-colour mode: the fourth entry is black but still opaque, since
        // KEO's DXT1 frames carry no transparency.
        palette[2] = PixelWord(PackARGB((r0 + r1) / 2, (g0 + g1) / 2, (b0 + b1) / 2, alpha));
        palette[3] = PixelWord(PackARGB(0, 0, 0, alpha));
    }
}

namespace {

// Stores pixelAt(k) for the pixels k = 4j + i of the block at (x, y) that lie
// inside the picture. Whole blocks, the common case, skip the clip tests.
template <typename PixelAt>
inline void writeBlock(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t* picture,
                       PixelAt pixelAt) {
    if (x >= width || y >= height)
        return;
    uint32_t* row = picture + static_cast<size_t>(y) * width + x;
    const uint32_t columns = width - x < 4 ? width - x : 4;
    const uint32_t rows = height - y < 4 ? height - y : 4;
    if (columns == 4 && rows == 4) {
        for (uint32_t j = 0; j < 4; ++j, row += width)
            for (uint32_t i = 0; i < 4; ++i)
                row[i] = pixelAt(4 * j + i);
        return;
    }
    for (uint32_t j = 0; j < rows; ++j, row += width)
        for (uint32_t i = 0; i < columns; ++i)
            row[i] = pixelAt(4 * j + i);
}

inline void decodeDXT1(uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                       const unsigned char* block, uint32_t* picture) {
    uint32_t palette[4];
    BuildColourPaletteDXT(block, true, 255, palette);
    const uint32_t indices = keo::loadLE32(block + 4);
    writeBlock(x, y, width, height, picture,
               [&](uint32_t k) { return palette[(indices >> (2 * k)) & 3]; });
}

inline void decodeDXT5(uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                       const unsigned char* block, uint32_t* picture) {
    uint32_t alphaWords[16];
    ExpandAlphaBlockDXT5(block, alphaWords);
    uint32_t palette[4];
    BuildColourPaletteDXT(block + kDXT5AlphaBlockSize, false, 0, palette);
    const uint32_t indices = keo::loadLE32(block + 12);
    writeBlock(x, y, width, height, picture,
               [&](uint32_t k) { return palette[(indices >> (2 * k)) & 3] | alphaWords[k]; });
}

} // namespace

void ExpandAlphaBlockDXT5(const unsigned char* alphaBlock, uint32_t alphaWords[16]) {
    const uint32_t a0 = alphaBlock[0];
    const uint32_t a1 = alphaBlock[1];
    uint32_t values[8];
    values[0] = a0;
    values[1] = a1;
    if (a0 > a1) {
        for (uint32_t c = 2; c < 8; ++c)
            values[c] = ((8 - c) * a0 + (c - 1) * a1) / 7;
    } else {
        for (uint32_t c = 2; c < 6; ++c)
            values[c] = ((6 - c) * a0 + (c - 1) * a1) / 5;
        values[6] = 0;
        values[7] = 255;
    }
    uint32_t words[8];
    for (int c = 0; c < 8; ++c)
        words[c] = PixelWord(values[c]);

    // The six code bytes as one 48-bit number, so that codes straddling a
    // byte boundary (pixels 2, 5, 10 and 13) need no special case.
    const uint64_t codes = static_cast<uint64_t>(keo::loadLE16(alphaBlock + 2)) |
                           static_cast<uint64_t>(keo::loadLE32(alphaBlock + 4)) << 16;
    for (int k = 0; k < 16; ++k)
        alphaWords[k] = words[(codes >> (3 * k)) & 7];
}

void DecompressBlockDXT1(uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                         const unsigned char* block, uint32_t* picture) {
    decodeDXT1(x, y, width, height, block, picture);
}

void DecompressBlockDXT5(uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                         const unsigned char* block, uint32_t* picture) {
    decodeDXT5(x, y, width, height, block, picture);
}
