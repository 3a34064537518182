// DXT24 block encoder: principal-axis end points, index matching along the
// end-point line, and least-squares refinement of the end points.
#include "codec/DXT24Encode.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/BlockLayout.h"
#include "codec/DXT24EncodePaths.h"
#include "codec/DXT24EncodeSteps.h"
#include "codec/StbDxt.h"

using keo::dxt24::channel;
using keo::dxt24::pack24;

namespace {

// End points of the block's principal axis: the two pixels whose projections
// onto the axis are smallest and largest.
void stb__OptimizeColorsBlock24(const unsigned char* block, uint32_t* pmax, uint32_t* pmin) {
    int mu[3], minv[3], maxv[3];
    for (int ch = 0; ch < 3; ++ch) {
        const unsigned char* bp = block + ch;
        int sum = bp[0], lo = bp[0], hi = bp[0];
        for (int i = 4; i < 64; i += 4) {
            sum += bp[i];
            if (bp[i] < lo)
                lo = bp[i];
            else if (bp[i] > hi)
                hi = bp[i];
        }
        mu[ch] = (sum + 8) >> 4;
        minv[ch] = lo;
        maxv[ch] = hi;
    }

    int cov[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i) {
        const int r = block[i * 4 + 0] - mu[0];
        const int g = block[i * 4 + 1] - mu[1];
        const int b = block[i * 4 + 2] - mu[2];
        cov[0] += r * r;
        cov[1] += r * g;
        cov[2] += r * b;
        cov[3] += g * g;
        cov[4] += g * b;
        cov[5] += b * b;
    }

    int axis[3];
    keo::dxt24::principalAxis(cov, minv, maxv, axis);
    const int axisR = axis[0], axisG = axis[1], axisB = axis[2];

    const unsigned char* minp = block;
    const unsigned char* maxp = block;
    int mind = block[0] * axisR + block[1] * axisG + block[2] * axisB;
    int maxd = mind;
    for (int i = 1; i < 16; ++i) {
        const unsigned char* p = block + i * 4;
        const int dot = p[0] * axisR + p[1] * axisG + p[2] * axisB;
        if (dot < mind) {
            mind = dot;
            minp = p;
        }
        if (dot > maxd) {
            maxd = dot;
            maxp = p;
        }
    }
    *pmax = pack24(maxp[0], maxp[1], maxp[2]);
    *pmin = pack24(minp[0], minp[1], minp[2]);
}

// Four palette entries of R, G, B (and an unused fourth byte). The mixes
// truncate, unlike the decoder's rounded thirds: they only steer the index
// choice, and the refinement corrects the end points.
void stb__EvalColors24(unsigned char* palette, uint32_t c0, uint32_t c1) {
    for (int ch = 0; ch < 3; ++ch) {
        const int a = channel(c0, ch);
        const int b = channel(c1, ch);
        palette[0 + ch] = static_cast<unsigned char>(a);
        palette[4 + ch] = static_cast<unsigned char>(b);
        palette[8 + ch] = static_cast<unsigned char>((2 * a + b) / 3);
        palette[12 + ch] = static_cast<unsigned char>((a + 2 * b) / 3);
    }
    palette[3] = palette[7] = palette[11] = palette[15] = 0;
}

// Index mask of the 16 pixels against a palette, pixel 0 in the lowest bits.
uint32_t stb__MatchColorsBlock24(const unsigned char* block, const unsigned char* palette) {
    const int dirR = palette[0] - palette[4];
    const int dirG = palette[1] - palette[5];
    const int dirB = palette[2] - palette[6];

    int dots[16];
    for (int i = 0; i < 16; ++i)
        dots[i] = block[i * 4 + 0] * dirR + block[i * 4 + 1] * dirG + block[i * 4 + 2] * dirB;
    int stops[4];
    for (int i = 0; i < 4; ++i)
        stops[i] =
            palette[i * 4 + 0] * dirR + palette[i * 4 + 1] * dirG + palette[i * 4 + 2] * dirB;

    // The palette lies on one line along dir in the order 1, 3, 2, 0, so
    // three crossover points between neighbours pick the nearest entry of
    // each projected pixel.
    const int c0Point = (stops[1] + stops[3]) >> 1;
    const int halfPoint = (stops[3] + stops[2]) >> 1;
    const int c3Point = (stops[2] + stops[0]) >> 1;

    uint32_t mask = 0;
    for (int i = 15; i >= 0; --i) {
        const int dot = dots[i];
        uint32_t index;
        if (dot < halfPoint)
            index = dot < c0Point ? 1 : 3;
        else
            index = dot < c3Point ? 2 : 0;
        mask = mask * 4 + index;
    }
    return mask;
}

// Least-squares end points for a fixed index assignment. Returns whether
// either end point changed.
bool stb__RefineBlock24(const unsigned char* block, uint32_t* pmax, uint32_t* pmin, uint32_t mask) {
    // Weight of c_max for each index (3/3, 0/3, 2/3, 1/3 in thirds), and the
    // products w1*w1, w2*w2, w1*w2 (w2 = 3 - w1) packed into one word so the
    // pixel loop needs a single add for the normal-equation coefficients.
    static const int w1Tab[4] = {3, 0, 2, 1};
    static const int prods[4] = {0x090000, 0x000900, 0x040102, 0x010402};

    const uint32_t oldMax = *pmax;
    const uint32_t oldMin = *pmin;
    uint32_t newMax, newMin;

    if ((mask ^ (mask << 2)) < 4) {
        // Every pixel has the same index: the system is singular, so both
        // ends become the average colour.
        int sum[3] = {8, 8, 8};
        for (int i = 0; i < 16; ++i)
            for (int ch = 0; ch < 3; ++ch)
                sum[ch] += block[i * 4 + ch];
        newMax = newMin = pack24(sum[0] >> 4, sum[1] >> 4, sum[2] >> 4);
    } else {
        int at1[3] = {0, 0, 0};
        int at2[3] = {0, 0, 0};
        int akku = 0;
        uint32_t cm = mask;
        for (int i = 0; i < 16; ++i, cm >>= 2) {
            const int step = static_cast<int>(cm & 3);
            const int w1 = w1Tab[step];
            akku += prods[step];
            for (int ch = 0; ch < 3; ++ch) {
                at1[ch] += w1 * block[i * 4 + ch];
                at2[ch] += block[i * 4 + ch];
            }
        }
        for (int ch = 0; ch < 3; ++ch)
            at2[ch] = 3 * at2[ch] - at1[ch];

        const int xx = akku >> 16;
        const int yy = (akku >> 8) & 0xFF;
        const int xy = akku & 0xFF;
        keo::dxt24::solveEndPoints(at1, at2, xx, yy, xy, &newMax, &newMin);
    }

    *pmax = newMax;
    *pmin = newMin;
    return oldMax != newMax || oldMin != newMin;
}

} // namespace

void stb_compress_dxt_block_24(unsigned char* dest, const unsigned char* block, bool alpha,
                               int mode) {
    unsigned char opaque[64];
    if (alpha) {
        keo::stb_compress_alpha_block(dest, block);
        dest += 8;
        // The alpha block already holds the alpha; an opaque copy lets the
        // constant-colour test below judge the colours alone.
        std::memcpy(opaque, block, sizeof opaque);
        for (int i = 0; i < 16; ++i)
            opaque[i * 4 + 3] = 255;
        block = opaque;
    }

    const int refineCount = (mode & kDXT24HighQuality) ? 2 : 1;
    uint32_t cmax, cmin, mask;

    int i = 1;
    while (i < 16 && std::memcmp(block + i * 4, block, 4) == 0)
        ++i;
    if (i == 16) {
        // Index 2 decodes to (2 c0 + c1 + 1) / 3, which is the colour itself
        // when both ends are equal.
        cmax = cmin = pack24(block[0], block[1], block[2]);
        mask = 0xAAAAAAAAu;
    } else {
        unsigned char palette[16];
        stb__OptimizeColorsBlock24(block, &cmax, &cmin);
        if (cmax != cmin) {
            stb__EvalColors24(palette, cmax, cmin);
            mask = stb__MatchColorsBlock24(block, palette);
        } else {
            mask = 0;
        }

        for (int pass = 0; pass < refineCount; ++pass) {
            const uint32_t lastMask = mask;
            if (stb__RefineBlock24(block, &cmax, &cmin, mask)) {
                if (cmax == cmin) {
                    mask = 0;
                    break;
                }
                stb__EvalColors24(palette, cmax, cmin);
                mask = stb__MatchColorsBlock24(block, palette);
            }
            if (mask == lastMask)
                break;
        }
    }

    keo::dxt24::storeBlock(dest, cmax, cmin, mask);
}

namespace {

// The 16 pixels of the block at (x, y) as four rows of four ARGB32 pixels:
// straight into the source for whole blocks, through `spare` with the last
// column and row repeated for blocks that cross the region's edge.
void blockRows(const unsigned char* source, std::ptrdiff_t stride, int width, int height, int x,
               int y, unsigned char spare[64], const unsigned char* rows[4]) {
    if (x + 3 < width && y + 3 < height) {
        for (int j = 0; j < 4; ++j)
            rows[j] = source + (y + j) * stride + static_cast<std::ptrdiff_t>(x) * 4;
        return;
    }
    for (int j = 0; j < 4; ++j) {
        const int sy = y + j < height ? y + j : height - 1;
        const unsigned char* row = source + sy * stride;
        for (int i = 0; i < 4; ++i) {
            const int sx = x + i < width ? x + i : width - 1;
            std::memcpy(spare + 16 * j + 4 * i, row + static_cast<std::ptrdiff_t>(sx) * 4, 4);
        }
        rows[j] = spare + 16 * j;
    }
}

// The portable block encoder takes R, G, B, A pixels in raster order.
void encodeBlockPortable(unsigned char* dest, const unsigned char* const rows[4], bool alpha) {
    // stb_dxt reads its block as 32-bit words; keep it aligned for them.
    alignas(16) unsigned char block[64];
    for (int k = 0; k < 16; ++k) {
        const unsigned char* p = rows[k >> 2] + 4 * (k & 3);
        unsigned char* q = block + 4 * k;
        q[0] = p[1];
        q[1] = p[2];
        q[2] = p[3];
        q[3] = p[0];
    }
    stb_compress_dxt_block_24(dest, block, alpha, kDXT24HighQuality);
}

template <typename EncodeBlock>
void encodeRegion(unsigned char* destination, const unsigned char* source, int width, int height,
                  std::ptrdiff_t stride, int blockBytes, EncodeBlock encodeBlock) {
    if (height < 1 || width < 1)
        return;
    const int blocksX = static_cast<int>((static_cast<int64_t>(width) + 3) / 4);
    const int blocksY = static_cast<int>((static_cast<int64_t>(height) + 3) / 4);
    unsigned char spare[64];
    const unsigned char* rows[4];
    for (int by = 0; by < blocksY; ++by)
        for (int bx = 0; bx < blocksX; ++bx, destination += blockBytes) {
            blockRows(source, stride, width, height, bx * 4, by * 4, spare, rows);
            encodeBlock(destination, rows);
        }
}

} // namespace

bool KEOEncodePathAvailable(KEOEncodePath path) {
    return path != kKEOEncodeSSE2 || KEO_HAVE_SSE2_ENCODE;
}

bool KEOEncodeDXT24Region(unsigned char* destination, const unsigned char* source, int width,
                          int height, std::ptrdiff_t stride, KEOEncodePath path) {
    if (!KEOEncodePathAvailable(path))
        return false;
#if KEO_HAVE_SSE2_ENCODE
    if (path != kKEOEncodePortable) {
        encodeRegion(destination, source, width, height, stride,
                     KEOLayoutBlockSize(kKEOLayoutDXT24), KEOEncodeDXT24BlockSSE2);
        return true;
    }
#endif
    encodeRegion(destination, source, width, height, stride, KEOLayoutBlockSize(kKEOLayoutDXT24),
                 [](unsigned char* dest, const unsigned char* const rows[4]) {
                     encodeBlockPortable(dest, rows, false);
                 });
    return true;
}

void _stbCompressARGB32_to24(unsigned char* destination, const unsigned char* source, int width,
                             int height, int rowBytes, bool alpha) {
    // Pointer offsets in std::ptrdiff_t: width * 4 and row * rowBytes can pass
    // 2^31 on large frames, and rowBytes may be negative for bottom-up rows.
    const std::ptrdiff_t stride = rowBytes != 0 ? rowBytes : static_cast<std::ptrdiff_t>(width) * 4;
    if (!alpha) {
        KEOEncodeDXT24Region(destination, source, width, height, stride);
        return;
    }
    encodeRegion(destination, source, width, height, stride,
                 KEOLayoutBlockSize(kKEOLayoutDXT24Alpha),
                 [](unsigned char* dest, const unsigned char* const rows[4]) {
                     encodeBlockPortable(dest, rows, true);
                 });
}
