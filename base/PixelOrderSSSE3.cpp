// The SSSE3 path of base/PixelOrder.h: four pixels a step.
//
// A step loads four source pixels (16 bytes, or 12 of three-byte pixels),
// rearranges them with one pshufb and stores the target's bytes, exactly
// as many as there are: eight and four for 12, four for gray, so a row is
// never written past its end and a conversion in place never overwrites a
// pixel it has yet to read. A source without alpha gets opaque alpha from
// an OR after the shuffle.
//
// Compositing and luma work on the pixels put into R, G, B, A order first:
// - onto black, in 16-bit lanes: t = c x a + 128, then (t + (t >> 8)) >> 8,
//   which equals (c x a + 127) / 255 for every c and a of 0 to 255 (the
//   tests try them all); alpha is then set to 255. Four pixels that are all
//   opaque skip it: it would give them back as they are.
// - luma: pmaddwd of R, G and B with their weights, one horizontal add per
//   four pixels. 38470 does not fit a signed 16-bit weight, so G is weighed
//   by 38470 - 65536 and G x 65536 added back; the 32-bit sums wrap and
//   unwrap exactly, since the true value is below 2^24.
// The pixels of a row after its last whole step go through the portable
// code, which is the same arithmetic.
#include "base/PixelPlan.h"

#if KEO_HAVE_PIXEL_SSSE3

#include <tmmintrin.h>

#include <cstring>

#define KEO_SSSE3 __attribute__((target("ssse3")))
#define KEO_SSSE3_INLINE __attribute__((target("ssse3"), always_inline)) inline

namespace keo::pixels {
namespace {

KEO_SSSE3_INLINE __m128i vector(const uint8_t* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

template <int Bytes> KEO_SSSE3_INLINE __m128i loadPixels(const uint8_t* at) {
    if (Bytes == 4)
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    int32_t last;
    std::memcpy(&last, at + 8, 4);
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)),
                              _mm_cvtsi32_si128(last));
}

template <int Bytes> KEO_SSSE3_INLINE void storePixels(uint8_t* at, __m128i v) {
    if (Bytes == 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v);
        return;
    }
    if (Bytes == 3) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at), v);
        v = _mm_srli_si128(v, 8);
    }
    const int32_t word = _mm_cvtsi128_si32(v);
    std::memcpy(at + (Bytes == 3 ? 8 : 0), &word, 4);
}

// Colours times alpha over 255, rounded; alpha 255. Pixels in R, G, B, A order.
KEO_SSSE3_INLINE __m128i ontoBlack4(__m128i rgba) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi16(128);
    __m128i lanes[2] = {_mm_unpacklo_epi8(rgba, zero), _mm_unpackhi_epi8(rgba, zero)};
    for (__m128i& c : lanes) {
        const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(c, 0xFF), 0xFF);
        const __m128i t = _mm_add_epi16(_mm_mullo_epi16(c, a), half);
        c = _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
    }
    return _mm_or_si128(_mm_packus_epi16(lanes[0], lanes[1]),
                        _mm_set1_epi32(static_cast<int>(0xFF000000u)));
}

// Whether four pixels in R, G, B, A order all have alpha 255.
KEO_SSSE3_INLINE bool opaque4(__m128i rgba) {
    const __m128i ones = _mm_cmpeq_epi32(rgba, rgba);
    const __m128i colours = _mm_set1_epi32(0x00FFFFFF);
    return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_or_si128(rgba, colours), ones)) == 0xFFFF;
}

// The luma of four pixels in R, G, B, A order, in the low four bytes.
KEO_SSSE3_INLINE __m128i luma4(__m128i rgba) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i weights =
        _mm_setr_epi16(19595, 38470 - 65536, 7471, 0, 19595, 38470 - 65536, 7471, 0);
    const __m128i sums = _mm_hadd_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(rgba, zero), weights),
                                        _mm_madd_epi16(_mm_unpackhi_epi8(rgba, zero), weights));
    // G x 65536 is G's byte moved from bits 8-15 to bits 16-23.
    const __m128i green = _mm_and_si128(_mm_slli_epi32(rgba, 8), _mm_set1_epi32(0x00FF0000));
    const __m128i y =
        _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(sums, green), _mm_set1_epi32(32768)), 16);
    return _mm_shuffle_epi8(
        y, _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
}

// One shuffle from source to target.
template <int SrcBytes, int DstBytes>
KEO_SSSE3 void directRow(const Plan& p, const uint8_t* src, uint8_t* dst, int width) {
    const __m128i control = vector(p.direct);
    const __m128i alpha = vector(p.directAlpha);
    int x = 0;
    for (; x + 4 <= width; x += 4, src += 4 * SrcBytes, dst += 4 * DstBytes)
        storePixels<DstBytes>(
            dst, _mm_or_si128(_mm_shuffle_epi8(loadPixels<SrcBytes>(src), control), alpha));
    convertRowPortable(p, src, dst, width - x);
}

// Through R, G, B, A order, for compositing or luma.
template <int SrcBytes, int DstBytes, bool OnBlack>
KEO_SSSE3 void viaRGBARow(const Plan& p, const uint8_t* src, uint8_t* dst, int width) {
    const __m128i toRGBA = vector(p.toRGBA);
    const __m128i toRGBAAlpha = vector(p.toRGBAAlpha);
    const __m128i fromRGBA = vector(p.fromRGBA);
    int x = 0;
    for (; x + 4 <= width; x += 4, src += 4 * SrcBytes, dst += 4 * DstBytes) {
        __m128i v = _mm_or_si128(_mm_shuffle_epi8(loadPixels<SrcBytes>(src), toRGBA), toRGBAAlpha);
        // Opaque pixels, most of most pictures, are their own picture over
        // black.
        if (OnBlack && !opaque4(v))
            v = ontoBlack4(v);
        storePixels<DstBytes>(dst, DstBytes == 1 ? luma4(v) : _mm_shuffle_epi8(v, fromRGBA));
    }
    convertRowPortable(p, src, dst, width - x);
}

template <int SrcBytes, int DstBytes>
void viaRGBA(const Plan& p, const uint8_t* src, uint8_t* dst, int width) {
    if (p.onBlack)
        viaRGBARow<SrcBytes, DstBytes, true>(p, src, dst, width);
    else
        viaRGBARow<SrcBytes, DstBytes, false>(p, src, dst, width);
}

template <int SrcBytes> void rowFrom(const Plan& p, const uint8_t* src, uint8_t* dst, int width) {
    if (p.gray)
        viaRGBA<SrcBytes, 1>(p, src, dst, width);
    else if (p.onBlack && p.dstBytes == 4)
        viaRGBA<SrcBytes, 4>(p, src, dst, width);
    else if (p.onBlack)
        viaRGBA<SrcBytes, 3>(p, src, dst, width);
    else if (p.dstBytes == 4)
        directRow<SrcBytes, 4>(p, src, dst, width);
    else
        directRow<SrcBytes, 3>(p, src, dst, width);
}

} // namespace

void convertRowSSSE3(const Plan& p, const uint8_t* src, uint8_t* dst, int width) {
    if (p.srcBytes == 4)
        rowFrom<4>(p, src, dst, width);
    else
        rowFrom<3>(p, src, dst, width);
}

} // namespace keo::pixels

#endif
