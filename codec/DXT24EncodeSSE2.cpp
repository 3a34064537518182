// DXT24 block encoding with the per-pixel loops in SSE2 lanes.
//
// The arithmetic is that of DXT24Encode.cpp step for step: integer sums,
// products and comparisons are exact in any order, so they run 4 or 8 pixels
// at a time; the float steps (covariance scaling, power iteration, the
// least-squares solve) are the very functions the portable path calls
// (DXT24EncodeSteps.h), so they round the same way. The pixels are kept as 16-bit lanes per
// channel, and as (R, G) and (B, 0) pairs, with which one pmaddwd pair gives four dot products R*x
// + G*y + B*z in 32 bits.
#include "codec/DXT24EncodePaths.h"

#if KEO_HAVE_SSE2_ENCODE

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "base/ByteOrder.h"
#include "codec/DXT24EncodeSteps.h"

using keo::dxt24::channel;
using keo::dxt24::pack24;

namespace {

struct Pixels {
    __m128i r[2], g[2], b[2]; // pixels 0-7 and 8-15, one channel per vector
    __m128i rg[4], b0[4];     // pixels 4q..4q+3: (R, G) and (B, 0) lane pairs
    int sum[3];
    const unsigned char* const* rows;
};

// The 24-bit colour of pixel k (bytes A, R, G, B in its row).
uint32_t colourOf(const Pixels& p, int k) {
    const unsigned char* at = p.rows[k >> 2] + 4 * (k & 3);
    return pack24(at[1], at[2], at[3]);
}

inline int sum32(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(v);
}

// Sum over 16 pixels of a * b, both as two vectors of 16-bit lanes.
inline int dot16(const __m128i a[2], const __m128i b[2]) {
    return sum32(_mm_add_epi32(_mm_madd_epi16(a[0], b[0]), _mm_madd_epi16(a[1], b[1])));
}

// Folds the 16 bytes of v into one with `pick` (a byte-wise min or max),
// halving the distance each step. The lambdas below inline completely, so
// this costs nothing over writing each fold out.
template <typename Pick> inline int foldBytes(__m128i v, Pick pick) {
    v = pick(v, _mm_srli_si128(v, 8));
    v = pick(v, _mm_srli_si128(v, 4));
    v = pick(v, _mm_srli_si128(v, 2));
    v = pick(v, _mm_srli_si128(v, 1));
    return _mm_cvtsi128_si32(v) & 0xFF;
}

inline int minByte(__m128i v) {
    return foldBytes(v, [](__m128i a, __m128i b) { return _mm_min_epu8(a, b); });
}

inline int maxByte(__m128i v) {
    return foldBytes(v, [](__m128i a, __m128i b) { return _mm_max_epu8(a, b); });
}

// R*x + G*y + B*z of every pixel, four per vector in pixel order.
inline void projections(const Pixels& p, int x, int y, int z, __m128i out[4]) {
    const __m128i xy = _mm_set1_epi32(
        static_cast<int>((static_cast<uint32_t>(y) << 16) | (static_cast<uint32_t>(x) & 0xFFFF)));
    const __m128i z0 = _mm_set1_epi32(static_cast<int>(static_cast<uint32_t>(z) & 0xFFFF));
    for (int q = 0; q < 4; ++q)
        out[q] = _mm_add_epi32(_mm_madd_epi16(p.rg[q], xy), _mm_madd_epi16(p.b0[q], z0));
}

inline __m128i select(__m128i mask, __m128i ifSet, __m128i ifClear) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

// One bit per pixel from four vectors of 32-bit all-ones/zero lanes.
inline __m128i maskBytes(const __m128i m[4]) {
    return _mm_packs_epi16(_mm_packs_epi32(m[0], m[1]), _mm_packs_epi32(m[2], m[3]));
}

// The first pixel whose projection is the smallest, and the first whose
// projection is the largest, as a scan from pixel 0 keeping strict
// improvements finds them.
inline void extremes(const __m128i d[4], int* first, int* last) {
    __m128i lo = d[0], hi = d[0];
    for (int q = 1; q < 4; ++q) {
        lo = select(_mm_cmpgt_epi32(lo, d[q]), d[q], lo);
        hi = select(_mm_cmpgt_epi32(d[q], hi), d[q], hi);
    }
    // Across the four lanes: swap halves, then neighbours.
    __m128i other = _mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2));
    lo = select(_mm_cmpgt_epi32(lo, other), other, lo);
    other = _mm_shuffle_epi32(lo, _MM_SHUFFLE(2, 3, 0, 1));
    lo = select(_mm_cmpgt_epi32(lo, other), other, lo);
    other = _mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2));
    hi = select(_mm_cmpgt_epi32(other, hi), other, hi);
    other = _mm_shuffle_epi32(hi, _MM_SHUFFLE(2, 3, 0, 1));
    hi = select(_mm_cmpgt_epi32(other, hi), other, hi);
    __m128i isLo[4], isHi[4];
    for (int q = 0; q < 4; ++q) {
        isLo[q] = _mm_cmpeq_epi32(d[q], lo);
        isHi[q] = _mm_cmpeq_epi32(d[q], hi);
    }
    *first = __builtin_ctz(static_cast<unsigned>(_mm_movemask_epi8(maskBytes(isLo))));
    *last = __builtin_ctz(static_cast<unsigned>(_mm_movemask_epi8(maskBytes(isHi))));
}

// End points along the principal axis; see stb__OptimizeColorsBlock24.
void optimizeColours(const Pixels& p, uint32_t* pmax, uint32_t* pmin) {
    int mu[3], minv[3], maxv[3];
    const __m128i* planes[3] = {p.r, p.g, p.b};
    __m128i centred[3][2];
    for (int ch = 0; ch < 3; ++ch) {
        const __m128i bytes = _mm_packus_epi16(planes[ch][0], planes[ch][1]);
        mu[ch] = (p.sum[ch] + 8) >> 4;
        minv[ch] = minByte(bytes);
        maxv[ch] = maxByte(bytes);
        const __m128i m = _mm_set1_epi16(static_cast<short>(mu[ch]));
        centred[ch][0] = _mm_sub_epi16(planes[ch][0], m);
        centred[ch][1] = _mm_sub_epi16(planes[ch][1], m);
    }
    const int cov[6] = {dot16(centred[0], centred[0]), dot16(centred[0], centred[1]),
                        dot16(centred[0], centred[2]), dot16(centred[1], centred[1]),
                        dot16(centred[1], centred[2]), dot16(centred[2], centred[2])};

    int axis[3];
    keo::dxt24::principalAxis(cov, minv, maxv, axis);

    __m128i d[4];
    projections(p, axis[0], axis[1], axis[2], d);
    int lowest, highest;
    extremes(d, &lowest, &highest);
    *pmax = colourOf(p, highest);
    *pmin = colourOf(p, lowest);
}

// Index mask against the palette of c0, c1; see stb__MatchColorsBlock24.
uint32_t matchColours(const Pixels& p, uint32_t c0, uint32_t c1) {
    int palette[4][3];
    for (int ch = 0; ch < 3; ++ch) {
        const int a = channel(c0, ch), b = channel(c1, ch);
        palette[0][ch] = a;
        palette[1][ch] = b;
        palette[2][ch] = (2 * a + b) / 3;
        palette[3][ch] = (a + 2 * b) / 3;
    }
    const int dirR = palette[0][0] - palette[1][0];
    const int dirG = palette[0][1] - palette[1][1];
    const int dirB = palette[0][2] - palette[1][2];
    int stops[4];
    for (int i = 0; i < 4; ++i)
        stops[i] = palette[i][0] * dirR + palette[i][1] * dirG + palette[i][2] * dirB;
    const __m128i c0Point = _mm_set1_epi32((stops[1] + stops[3]) >> 1);
    const __m128i halfPoint = _mm_set1_epi32((stops[3] + stops[2]) >> 1);
    const __m128i c3Point = _mm_set1_epi32((stops[2] + stops[0]) >> 1);

    // index = dot < half ? (dot < c0Point ? 1 : 3) : (dot < c3Point ? 2 : 0):
    // its low bit is dot < half, its high bit the inner test that fails or
    // passes accordingly.
    __m128i d[4], low[4], high[4];
    projections(p, dirR, dirG, dirB, d);
    for (int q = 0; q < 4; ++q) {
        const __m128i belowHalf = _mm_cmpgt_epi32(halfPoint, d[q]);
        const __m128i belowC0 = _mm_cmpgt_epi32(c0Point, d[q]);
        const __m128i belowC3 = _mm_cmpgt_epi32(c3Point, d[q]);
        low[q] = belowHalf;
        high[q] = _mm_or_si128(_mm_andnot_si128(belowC0, belowHalf),
                               _mm_andnot_si128(belowHalf, belowC3));
    }
    // Interleaving the low-bit and high-bit bytes puts pixel k's two bits at
    // mask bits 2k and 2k + 1.
    const __m128i lowBytes = maskBytes(low), highBytes = maskBytes(high);
    const uint32_t first =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpacklo_epi8(lowBytes, highBytes)));
    const uint32_t second =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpackhi_epi8(lowBytes, highBytes)));
    return first | second << 16;
}

// Least-squares end points for a fixed mask; see stb__RefineBlock24.
bool refineColours(const Pixels& p, uint32_t* pmax, uint32_t* pmin, uint32_t mask) {
    const uint32_t oldMax = *pmax;
    const uint32_t oldMin = *pmin;
    uint32_t newMax, newMin;

    if ((mask ^ (mask << 2)) < 4) {
        newMax = newMin = pack24((p.sum[0] + 8) >> 4, (p.sum[1] + 8) >> 4, (p.sum[2] + 8) >> 4);
    } else {
        // Each pixel's index into its 16-bit lane (a multiply lifts its two
        // bits to the top), then its weight of c_max: w1 = 3, 0, 2, 1 for
        // indices 0-3, which is b1 when b0 is set and 3 - b1 otherwise.
        const __m128i toTop =
            _mm_setr_epi16(1 << 14, 1 << 12, 1 << 10, 1 << 8, 1 << 6, 1 << 4, 1 << 2, 1);
        const __m128i one = _mm_set1_epi16(1), three = _mm_set1_epi16(3);
        __m128i w1[2];
        for (int h = 0; h < 2; ++h) {
            const __m128i bits = _mm_set1_epi16(static_cast<short>(mask >> (16 * h)));
            const __m128i index = _mm_srli_epi16(_mm_mullo_epi16(bits, toTop), 14);
            const __m128i b1 = _mm_srli_epi16(index, 1);
            const __m128i b0Set = _mm_cmpeq_epi16(_mm_and_si128(index, one), one);
            w1[h] = select(b0Set, b1, _mm_sub_epi16(three, b1));
        }
        const __m128i ones[2] = {one, one};
        // The normal-equation coefficients: with w2 = 3 - w1, xx = sum w1^2,
        // yy = sum w2^2 and xy = sum w1 w2 follow from sum w1 and sum w1^2.
        const int s1 = dot16(w1, ones);
        const int s2 = dot16(w1, w1);
        const int xx = s2;
        const int yy = 144 - 6 * s1 + s2;
        const int xy = 3 * s1 - s2;
        const int at1[3] = {dot16(w1, p.r), dot16(w1, p.g), dot16(w1, p.b)};
        int at2[3];
        for (int ch = 0; ch < 3; ++ch)
            at2[ch] = 3 * p.sum[ch] - at1[ch];

        keo::dxt24::solveEndPoints(at1, at2, xx, yy, xy, &newMax, &newMin);
    }

    *pmax = newMax;
    *pmin = newMin;
    return oldMax != newMax || oldMin != newMin;
}

void loadPixels(const unsigned char* const rows[4], Pixels* p) {
    __m128i v[4];
    for (int j = 0; j < 4; ++j)
        v[j] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j]));
    const __m128i byteMask = _mm_set1_epi32(0xFF);
    const __m128i zero = _mm_setzero_si128();
    for (int h = 0; h < 2; ++h) {
        const __m128i a = v[2 * h], b = v[2 * h + 1];
        p->r[h] = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(a, 8), byteMask),
                                  _mm_and_si128(_mm_srli_epi32(b, 8), byteMask));
        p->g[h] = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(a, 16), byteMask),
                                  _mm_and_si128(_mm_srli_epi32(b, 16), byteMask));
        p->b[h] = _mm_packs_epi32(_mm_srli_epi32(a, 24), _mm_srli_epi32(b, 24));
        p->rg[2 * h] = _mm_unpacklo_epi16(p->r[h], p->g[h]);
        p->rg[2 * h + 1] = _mm_unpackhi_epi16(p->r[h], p->g[h]);
        p->b0[2 * h] = _mm_unpacklo_epi16(p->b[h], zero);
        p->b0[2 * h + 1] = _mm_unpackhi_epi16(p->b[h], zero);
    }
    const __m128i ones[2] = {_mm_set1_epi16(1), _mm_set1_epi16(1)};
    p->sum[0] = dot16(p->r, ones);
    p->sum[1] = dot16(p->g, ones);
    p->sum[2] = dot16(p->b, ones);
    p->rows = rows;
}

// Whether all 16 pixels equal pixel 0 in all four bytes.
bool constantBlock(const unsigned char* const rows[4]) {
    const __m128i first = _mm_set1_epi32(static_cast<int>(keo::loadLE32(rows[0]) & 0xFFFFFFFFu));
    __m128i same = _mm_set1_epi32(-1);
    for (int j = 0; j < 4; ++j)
        same = _mm_and_si128(
            same,
            _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j])), first));
    return _mm_movemask_epi8(same) == 0xFFFF;
}

} // namespace

void KEOEncodeDXT24BlockSSE2(unsigned char* dest, const unsigned char* const rows[4]) {
    uint32_t cmax, cmin, mask;
    if (constantBlock(rows)) {
        cmax = cmin = pack24(rows[0][1], rows[0][2], rows[0][3]);
        mask = 0xAAAAAAAAu;
    } else {
        Pixels p;
        loadPixels(rows, &p);
        optimizeColours(p, &cmax, &cmin);
        mask = cmax != cmin ? matchColours(p, cmax, cmin) : 0;
        for (int pass = 0; pass < 2; ++pass) {
            const uint32_t lastMask = mask;
            if (refineColours(p, &cmax, &cmin, mask)) {
                if (cmax == cmin) {
                    mask = 0;
                    break;
                }
                mask = matchColours(p, cmax, cmin);
            }
            if (mask == lastMask)
                break;
        }
    }
    keo::dxt24::storeBlock(dest, cmax, cmin, mask);
}

#endif // KEO_HAVE_SSE2_ENCODE
