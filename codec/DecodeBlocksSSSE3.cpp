// SSSE3 block decoding: four palettes at a time, rows of four pixels by one
// byte shuffle each.
//
// Palettes are computed in 16-bit lanes, two per block: lane 2b holds a
// channel of block b's first end colour, lane 2b + 1 of its second. A lane
// plus twice itself plus its neighbour is then a mix towards that lane's own
// end, so one pass yields entries 2 and 3 in the lane order of entries 0 and
// 1. The divisions are multiplications by fixed-point reciprocals whose
// error stays below the gap to the next integer for every sum that can
// occur (at most 3 x 255 + 1 for thirds, 35 x 255 for the alpha values).
//
// A row of four pixels is pshufb of the block's 16-byte palette with a
// control vector looked up by the row's index byte. Alpha is decoded for a
// whole block at once: its eight values come from one pmaddubsw of the end
// pair against per-code weights and one reciprocal multiply, two blocks'
// values share a vector, the 48 code bits are spread into sixteen bytes by
// two shuffles, multiplies that act as per-lane shifts, and a pack, and one
// more shuffle turns codes into alpha bytes, which each row ors in. Blocks
// cut by the picture's right or bottom edge spill their palettes and are
// written pixel by pixel.
#include "codec/DecodeBlocks.h"

#if KEO_HAVE_SSSE3_PATH

#include <tmmintrin.h>

#include <cstring>

#define KEO_SSSE3 __attribute__((target("ssse3")))
#define KEO_SSSE3_INLINE __attribute__((target("ssse3"), always_inline)) inline

namespace {

// kRowShuffle.bytes[b]: the pshufb control that turns a 4-entry palette into
// the four pixels of a row whose index byte is b (pixel i uses bits 2i, 2i+1).
struct RowShuffleTable {
    alignas(16) unsigned char bytes[256][16];
};

constexpr RowShuffleTable makeRowShuffleTable() {
    RowShuffleTable table{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 4; ++i)
            for (int c = 0; c < 4; ++c)
                table.bytes[b][4 * i + c] =
                    static_cast<unsigned char>(4 * ((b >> (2 * i)) & 3) + c);
    return table;
}

constexpr RowShuffleTable kRowShuffle = makeRowShuffleTable();

// kAlphaSpread.bytes[j]: moves the alpha bytes of row j (pixels 4j..4j+3) to
// byte 0 of each pixel and clears the other bytes (pshufb zeroes on bit 7).
struct AlphaSpreadTable {
    alignas(16) unsigned char bytes[4][16];
};

constexpr AlphaSpreadTable makeAlphaSpreadTable() {
    AlphaSpreadTable table{};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 16; ++i)
            table.bytes[j][i] = i % 4 == 0 ? static_cast<unsigned char>(4 * j + i / 4) : 0x80;
    return table;
}

constexpr AlphaSpreadTable kAlphaSpread = makeAlphaSpreadTable();

inline uint32_t load32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4); // x86 is little-endian, like the block data
    return v;
}

KEO_SSSE3_INLINE __m128i swapPairs(__m128i v) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
}

// v / 3 for v < 2^16: v * 0xAAAB / 2^17 overshoots v / 3 by less than 1/3.
KEO_SSSE3_INLINE __m128i div3(__m128i v) {
    return _mm_srli_epi16(_mm_mulhi_epu16(v, _mm_set1_epi16(static_cast<short>(0xAAAB))), 1);
}

// Lane pairs (a, b) to ((2a + b + bias) / 3, (2b + a + bias) / 3).
KEO_SSSE3_INLINE __m128i thirds(__m128i ends, __m128i bias) {
    return div3(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(ends, ends), swapPairs(ends)), bias));
}

// The four palettes of four blocks from their channel lanes. alphaLanes is
// 0x00FF in every lane for opaque layouts and 0 where alpha is or-ed in per
// pixel. A pixel word is A | R << 8 | G << 16 | B << 24.
KEO_SSSE3_INLINE void assemblePalettes(__m128i r01, __m128i g01, __m128i b01, __m128i r23,
                                       __m128i g23, __m128i b23, __m128i alphaLanes,
                                       __m128i palettes[4]) {
    const __m128i ar01 = _mm_or_si128(_mm_slli_epi16(r01, 8), alphaLanes);
    const __m128i gb01 = _mm_or_si128(g01, _mm_slli_epi16(b01, 8));
    const __m128i ar23 = _mm_or_si128(_mm_slli_epi16(r23, 8), alphaLanes);
    const __m128i gb23 = _mm_or_si128(g23, _mm_slli_epi16(b23, 8));
    const __m128i ends01 = _mm_unpacklo_epi16(ar01, gb01); // blocks 0, 1: entries 0, 1
    const __m128i ends23 = _mm_unpackhi_epi16(ar01, gb01); // blocks 2, 3
    const __m128i mix01 = _mm_unpacklo_epi16(ar23, gb23);  // blocks 0, 1: entries 2, 3
    const __m128i mix23 = _mm_unpackhi_epi16(ar23, gb23);
    palettes[0] = _mm_unpacklo_epi64(ends01, mix01);
    palettes[1] = _mm_unpackhi_epi64(ends01, mix01);
    palettes[2] = _mm_unpacklo_epi64(ends23, mix23);
    palettes[3] = _mm_unpackhi_epi64(ends23, mix23);
}

// DXT1's three-colour entries: (mid-point, black) in each lane pair.
KEO_SSSE3_INLINE __m128i midpoints(__m128i ends) {
    return _mm_and_si128(_mm_srli_epi16(_mm_add_epi16(ends, swapPairs(ends)), 1),
                         _mm_set1_epi32(0xFFFF));
}

KEO_SSSE3_INLINE __m128i pickFourOrThree(__m128i four, __m128i ifFour, __m128i ifThree) {
    return _mm_or_si128(_mm_and_si128(four, ifFour), _mm_andnot_si128(four, ifThree));
}

// Channel c of the end colours of four DXT24 blocks (at bytes 0-5 and 8-13 of
// the two vectors) into lanes: blocks 0, 1 from the first, 2, 3 from the
// second.
KEO_SSSE3_INLINE __m128i channelLanes(__m128i blocks01, __m128i blocks23, char c) {
    const char z = -128;
    const __m128i low = _mm_setr_epi8(c, z, char(c + 3), z, char(c + 8), z, char(c + 11), z, z, z,
                                      z, z, z, z, z, z);
    const __m128i high = _mm_setr_epi8(z, z, z, z, z, z, z, z, c, z, char(c + 3), z, char(c + 8), z,
                                       char(c + 11), z);
    return _mm_or_si128(_mm_shuffle_epi8(blocks01, low), _mm_shuffle_epi8(blocks23, high));
}

// Eight 5:6:5 colours (lane pairs c0, c1 of four blocks) to palettes. With
// threeColour, blocks with c0 <= c1 get the mid-point and black instead.
KEO_SSSE3_INLINE void palettes565(__m128i colours, bool threeColour, __m128i alphaLanes,
                                  __m128i palettes[4]) {
    // (t / 32 + t) / 32 with t = 255v + 16, and likewise for 6 bits; every
    // intermediate fits in 16 bits.
    const __m128i k255 = _mm_set1_epi16(255);
    const __m128i r5 = _mm_srli_epi16(colours, 11);
    const __m128i g6 = _mm_and_si128(_mm_srli_epi16(colours, 5), _mm_set1_epi16(63));
    const __m128i b5 = _mm_and_si128(colours, _mm_set1_epi16(31));
    const __m128i tr = _mm_add_epi16(_mm_mullo_epi16(r5, k255), _mm_set1_epi16(16));
    const __m128i tg = _mm_add_epi16(_mm_mullo_epi16(g6, k255), _mm_set1_epi16(32));
    const __m128i tb = _mm_add_epi16(_mm_mullo_epi16(b5, k255), _mm_set1_epi16(16));
    const __m128i r = _mm_srli_epi16(_mm_add_epi16(tr, _mm_srli_epi16(tr, 5)), 5);
    const __m128i g = _mm_srli_epi16(_mm_add_epi16(tg, _mm_srli_epi16(tg, 6)), 6);
    const __m128i b = _mm_srli_epi16(_mm_add_epi16(tb, _mm_srli_epi16(tb, 5)), 5);

    const __m128i zero = _mm_setzero_si128();
    __m128i r23 = thirds(r, zero), g23 = thirds(g, zero), b23 = thirds(b, zero);
    if (threeColour) {
        // c0 > c1 as unsigned 16-bit numbers, spread over both lanes of the
        // block; the three-colour entries are (mid-point, 0) in each pair.
        const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
        const __m128i greater =
            _mm_cmpgt_epi16(_mm_xor_si128(colours, flip), _mm_xor_si128(swapPairs(colours), flip));
        const __m128i four = _mm_srai_epi32(_mm_slli_epi32(greater, 16), 16);
        r23 = pickFourOrThree(four, r23, midpoints(r));
        g23 = pickFourOrThree(four, g23, midpoints(g));
        b23 = pickFourOrThree(four, b23, midpoints(b));
    }
    assemblePalettes(r, g, b, r23, g23, b23, alphaLanes, palettes);
}

// Palettes of four DXT24 colour blocks (R0 G0 B0 R1 G1 B1 each), whose
// mixes round: (2a + b + 1) / 3.
KEO_SSSE3_INLINE void palettes888(const unsigned char* const colour[4], __m128i alphaLanes,
                                  __m128i palettes[4]) {
    // Blocks 0 and 1 in bytes 0-5 and 8-13 of one vector, 2 and 3 of another.
    const __m128i q01 =
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(colour[0])),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(colour[1])));
    const __m128i q23 =
        _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(colour[2])),
                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(colour[3])));
    const __m128i r = channelLanes(q01, q23, 0);
    const __m128i g = channelLanes(q01, q23, 1);
    const __m128i b = channelLanes(q01, q23, 2);
    const __m128i one = _mm_set1_epi16(1);
    assemblePalettes(r, g, b, thirds(r, one), thirds(g, one), thirds(b, one), alphaLanes, palettes);
}

// An alpha value is a weighted mean of the block's two ends, (w0 a0 + w1 a1)
// / 7 with w0 + w1 = 7 when a0 > a1, and / 5 with w0 + w1 = 5 otherwise.
// Scaled to a common divisor of 35 (the eighths by 5, the sixths by 7), the
// weights of both modes fit signed bytes and one pmaddubsw of (a0, a1) byte
// pairs gives all eight sums of a block, at most 35 x 255; one fixed-point
// reciprocal divides them. Codes 6 and 7 of the six-value mode weigh
// nothing, and 7 has 255 or-ed in.
struct AlphaMode {
    alignas(16) signed char weights[16]; // (w0, w1) of codes 0-7
    alignas(16) short forced[8];         // or-ed into the values
};
const AlphaMode kAlphaModes[2] = {
    // a0 <= a1: six values, then 0 and 255.
    {{35, 0, 0, 35, 28, 7, 21, 14, 14, 21, 7, 28, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 255}},
    // a0 > a1: eight values.
    {{35, 0, 0, 35, 30, 5, 25, 10, 20, 15, 15, 20, 10, 25, 5, 30}, {0, 0, 0, 0, 0, 0, 0, 0}},
};

// s / 35 for 0 <= s <= 35 x 255: s x kBy35 / 2^21 exceeds s / 35 by at most
// s x 0.37 / 2^21 < 1 / 35, which never carries past the next integer. The
// assertion checks every sum.
constexpr unsigned kBy35 = 59919;
constexpr bool divides35() {
    for (unsigned s = 0; s <= 35 * 255; ++s)
        if ((s * kBy35) >> 21 != s / 35)
            return false;
    return true;
}
static_assert(divides35(), "the reciprocal of 35 is off for some alpha sum");

// The eight alpha values of the block whose first 8 bytes are `block`, in
// 16-bit lanes in code order.
KEO_SSSE3_INLINE __m128i alphaValues(const unsigned char* alphaBlock, __m128i block) {
    const AlphaMode& mode = kAlphaModes[alphaBlock[0] > alphaBlock[1]];
    const __m128i ends = _mm_shuffle_epi8(block, _mm_set1_epi16(0x0100));
    const __m128i sums =
        _mm_maddubs_epi16(ends, _mm_load_si128(reinterpret_cast<const __m128i*>(mode.weights)));
    const __m128i values =
        _mm_srli_epi16(_mm_mulhi_epu16(sums, _mm_set1_epi16(static_cast<short>(kBy35))), 5);
    return _mm_or_si128(values, _mm_load_si128(reinterpret_cast<const __m128i*>(mode.forced)));
}

// The sixteen 3-bit codes of a block as bytes in pixel order. Pixel k's code
// is bits 3k..3k+2 of bytes 2-7: the two bytes that hold it go into a 16-bit
// lane, a multiply moves the code to the top three bits and a shift brings
// it down.
KEO_SSSE3_INLINE __m128i alphaCodes(__m128i block) {
    const char z = -128;
    const __m128i pairs0 =
        _mm_shuffle_epi8(block, _mm_setr_epi8(2, 3, 2, 3, 2, 3, 3, 4, 3, 4, 3, 4, 4, 5, 4, 5));
    const __m128i pairs1 =
        _mm_shuffle_epi8(block, _mm_setr_epi8(5, 6, 5, 6, 5, 6, 6, 7, 6, 7, 6, 7, 7, z, 7, z));
    const __m128i toTop = _mm_setr_epi16(8192, 1024, 128, 4096, 512, 64, 2048, 256);
    return _mm_packus_epi16(_mm_srli_epi16(_mm_mullo_epi16(pairs0, toTop), 13),
                            _mm_srli_epi16(_mm_mullo_epi16(pairs1, toTop), 13));
}

// The 16 alpha bytes of a DXT5 alpha block, in pixel order.
KEO_SSSE3_INLINE __m128i alphaBytes(const unsigned char* alphaBlock) {
    const __m128i block = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(alphaBlock));
    const __m128i values = alphaValues(alphaBlock, block);
    return _mm_shuffle_epi8(_mm_packus_epi16(values, values), alphaCodes(block));
}

// The same for two blocks at once: their palettes share one vector (the
// first block's in bytes 0-7, the second's in 8-15), so the second block's
// codes pick from the upper half.
KEO_SSSE3_INLINE void alphaBytesOf2(const unsigned char* first, const unsigned char* second,
                                    __m128i* firstAlpha, __m128i* secondAlpha) {
    const __m128i block0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(first));
    const __m128i block1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(second));
    const __m128i palettes =
        _mm_packus_epi16(alphaValues(first, block0), alphaValues(second, block1));
    *firstAlpha = _mm_shuffle_epi8(palettes, alphaCodes(block0));
    *secondAlpha = _mm_shuffle_epi8(palettes, _mm_or_si128(alphaCodes(block1), _mm_set1_epi8(8)));
}

// Where a layout keeps its parts: an alpha half of 8 bytes first, if any,
// then the two end colours (2 x 5:6:5 or 2 x 8:8:8), then the indices.
template <KEOBlockLayout layout> struct Traits {
    enum {
        blockSize = KEOLayoutBlockSize(layout),
        hasAlpha = KEOLayoutHasAlpha(layout),
        is888 = KEOLayoutIsDXT24(layout),
        colourAt = hasAlpha ? 8 : 0,
        indicesAt = colourAt + (is888 ? 6 : 4),
    };
};

template <KEOBlockLayout layout>
KEO_SSSE3_INLINE void palettesOf4(const unsigned char* blocks, __m128i palettes[4]) {
    typedef Traits<layout> T;
    const __m128i alphaLanes = T::hasAlpha ? _mm_setzero_si128() : _mm_set1_epi16(0xFF);
    if (T::is888) {
        const unsigned char* colour[4];
        for (int b = 0; b < 4; ++b)
            colour[b] = blocks + b * T::blockSize + T::colourAt;
        palettes888(colour, alphaLanes, palettes);
        return;
    }
    // The (c0, c1) dword of each block into one vector.
    __m128i colours;
    if (layout == kKEOLayoutDXT1) {
        // Dwords c0c1, indices of blocks 0-1 and 2-3.
        const __m128i v01 = _mm_shuffle_epi32(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks)), _MM_SHUFFLE(3, 1, 2, 0));
        const __m128i v23 =
            _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16)),
                              _MM_SHUFFLE(3, 1, 2, 0));
        colours = _mm_unpacklo_epi64(v01, v23);
    } else {
        // The colour pair is dword 2 of each 16-byte block.
        const __m128i* v = reinterpret_cast<const __m128i*>(blocks);
        const __m128i v01 = _mm_unpackhi_epi32(_mm_loadu_si128(v), _mm_loadu_si128(v + 1));
        const __m128i v23 = _mm_unpackhi_epi32(_mm_loadu_si128(v + 2), _mm_loadu_si128(v + 3));
        colours = _mm_unpacklo_epi64(v01, v23);
    }
    palettes565(colours, layout == kKEOLayoutDXT1, alphaLanes, palettes);
}

// Row j of a whole block, at `at`.
template <KEOBlockLayout layout>
KEO_SSSE3_INLINE void writeRow(__m128i palette, uint32_t indexByte, __m128i alpha, int j,
                               unsigned char* at) {
    const __m128i control =
        _mm_load_si128(reinterpret_cast<const __m128i*>(kRowShuffle.bytes[indexByte]));
    __m128i row = _mm_shuffle_epi8(palette, control);
    if (Traits<layout>::hasAlpha) {
        const __m128i spread =
            _mm_load_si128(reinterpret_cast<const __m128i*>(kAlphaSpread.bytes[j]));
        row = _mm_or_si128(row, _mm_shuffle_epi8(alpha, spread));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), row);
}

// A whole block: four rows of four pixels, spelled out so that every shift
// is a constant. `alpha` holds the block's alpha bytes where it has them.
template <KEOBlockLayout layout>
KEO_SSSE3_INLINE void writeWholeBlock(const unsigned char* block, __m128i palette, __m128i alpha,
                                      unsigned char* at, ptrdiff_t pitch) {
    typedef Traits<layout> T;
    const uint32_t indices = load32(block + T::indicesAt);
    writeRow<layout>(palette, indices & 0xFF, alpha, 0, at);
    writeRow<layout>(palette, (indices >> 8) & 0xFF, alpha, 1, at + pitch);
    writeRow<layout>(palette, (indices >> 16) & 0xFF, alpha, 2, at + 2 * pitch);
    writeRow<layout>(palette, indices >> 24, alpha, 3, at + 3 * pitch);
}

// A block cut by the picture's edge: only columns x rows pixels.
template <KEOBlockLayout layout>
KEO_SSSE3_INLINE void writeEdgeBlock(const unsigned char* block, __m128i palette, unsigned char* at,
                                     ptrdiff_t pitch, uint32_t columns, uint32_t rows) {
    typedef Traits<layout> T;
    unsigned char entries[16];
    unsigned char alpha[16] = {};
    _mm_storeu_si128(reinterpret_cast<__m128i*>(entries), palette);
    if (T::hasAlpha)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(alpha), alphaBytes(block));
    const uint32_t indices = load32(block + T::indicesAt);
    for (uint32_t j = 0; j < rows; ++j, at += pitch)
        for (uint32_t i = 0; i < columns; ++i) {
            const uint32_t k = 4 * j + i;
            unsigned char pixel[4];
            std::memcpy(pixel, entries + 4 * ((indices >> (2 * k)) & 3), 4);
            pixel[0] |= alpha[k];
            std::memcpy(at + 4 * i, pixel, 4);
        }
}

template <KEOBlockLayout layout>
KEO_SSSE3 void decodeFrame(const unsigned char* blockData, uint32_t width, uint32_t height,
                           unsigned char* row0, ptrdiff_t pitch) {
    typedef Traits<layout> T;
    const uint32_t blocksX = width / 4 + (width % 4 != 0);
    const uint32_t blocksY = height / 4 + (height % 4 != 0);
    const uint32_t wholeX = width / 4;
    // The last group of a block row may have fewer than four blocks; they
    // are copied here so that the palette code never reads past the data.
    unsigned char spare[4 * T::blockSize];
    for (uint32_t by = 0; by < blocksY; ++by) {
        const uint32_t rows = height - 4 * by < 4 ? height - 4 * by : 4;
        unsigned char* blockRow = row0 + static_cast<ptrdiff_t>(by) * 4 * pitch;
        const unsigned char* rowBlocks =
            blockData + static_cast<size_t>(by) * blocksX * T::blockSize;
        for (uint32_t bx = 0; bx < blocksX; bx += 4) {
            const uint32_t count = blocksX - bx < 4 ? blocksX - bx : 4;
            const unsigned char* group = rowBlocks + static_cast<size_t>(bx) * T::blockSize;
            if (count < 4) {
                std::memset(spare, 0, sizeof spare);
                std::memcpy(spare, group, count * T::blockSize);
                group = spare;
            }
            __m128i palettes[4];
            palettesOf4<layout>(group, palettes);
            unsigned char* at = blockRow + static_cast<ptrdiff_t>(bx) * 16;
            if (rows == 4 && bx + 4 <= wholeX) {
                // The common case: four whole blocks side by side.
                __m128i alpha[4] = {};
                if (T::hasAlpha) {
                    alphaBytesOf2(group, group + T::blockSize, &alpha[0], &alpha[1]);
                    alphaBytesOf2(group + 2 * T::blockSize, group + 3 * T::blockSize, &alpha[2],
                                  &alpha[3]);
                }
                // Spelled out: as a loop, -O2 keeps the palettes on the stack.
                writeWholeBlock<layout>(group, palettes[0], alpha[0], at, pitch);
                writeWholeBlock<layout>(group + T::blockSize, palettes[1], alpha[1], at + 16,
                                        pitch);
                writeWholeBlock<layout>(group + 2 * T::blockSize, palettes[2], alpha[2], at + 32,
                                        pitch);
                writeWholeBlock<layout>(group + 3 * T::blockSize, palettes[3], alpha[3], at + 48,
                                        pitch);
                continue;
            }
            for (uint32_t b = 0; b < count; ++b) {
                const uint32_t x = 4 * (bx + b);
                const unsigned char* block = group + b * T::blockSize;
                unsigned char* blockAt = blockRow + static_cast<ptrdiff_t>(x) * 4;
                if (rows == 4 && bx + b < wholeX)
                    writeWholeBlock<layout>(block, palettes[b],
                                            T::hasAlpha ? alphaBytes(block) : _mm_setzero_si128(),
                                            blockAt, pitch);
                else
                    writeEdgeBlock<layout>(block, palettes[b], blockAt, pitch,
                                           width - x < 4 ? width - x : 4, rows);
            }
        }
    }
}

} // namespace

void KEODecodeBlocksSSSE3(KEOBlockLayout layout, const unsigned char* blockData, uint32_t width,
                          uint32_t height, unsigned char* row0, ptrdiff_t pitch) {
    if (width == 0 || height == 0)
        return;
    switch (layout) {
    case kKEOLayoutDXT1:
        decodeFrame<kKEOLayoutDXT1>(blockData, width, height, row0, pitch);
        break;
    case kKEOLayoutDXT5:
        decodeFrame<kKEOLayoutDXT5>(blockData, width, height, row0, pitch);
        break;
    case kKEOLayoutDXT24:
        decodeFrame<kKEOLayoutDXT24>(blockData, width, height, row0, pitch);
        break;
    case kKEOLayoutDXT24Alpha:
        decodeFrame<kKEOLayoutDXT24Alpha>(blockData, width, height, row0, pitch);
        break;
    case kKEOLayoutCount:
        break;
    }
}

#endif // KEO_HAVE_SSSE3_PATH
