// What a conversion of base/PixelOrder.h works out once, before its rows:
// where each channel sits in the source and the target pixel, and the byte
// shuffles of the SSSE3 path. Only PixelOrder.cpp and PixelOrderSSSE3.cpp
// use it.
#pragma once

#include <cstdint>

#include "base/PixelOrder.h"

// The SSSE3 path is compiled on x86 with GCC or Clang, whose target
// attributes let it sit beside code built for plain SSE2.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__) &&                             \
    (defined(__GNUC__) || defined(__clang__))
#define KEO_HAVE_PIXEL_SSSE3 1
#else
#define KEO_HAVE_PIXEL_SSSE3 0
#endif

namespace keo::pixels {

// Byte offsets of R, G, B and A within a pixel; alpha -1 when there is none.
struct Channels {
    int8_t r, g, b, a;
};

// pshufb leaves a byte zero when its control byte has the top bit set.
constexpr uint8_t kZeroByte = 0x80;

struct Plan {
    int srcBytes, dstBytes; // 4 or 3; 4, 3 or 1
    Channels src, dst;
    bool onBlack, gray;
    // Four source pixels straight into four target pixels: the shuffle,
    // then an OR that supplies opaque alpha a source lacks. Only the first
    // 4 x dstBytes bytes count.
    uint8_t direct[16], directAlpha[16];
    // Four source pixels into R, G, B, A order (compositing and luma work
    // there), and from that order into the target.
    uint8_t toRGBA[16], toRGBAAlpha[16], fromRGBA[16];
};

Channels channelsOf(PixelLayout layout);
// The plan of a conversion whose source is not Gray.
Plan makePlan(const PixelConversion& how);

// (colour x alpha + 127) / 255: the colour laid over black, rounded.
inline uint8_t ontoBlack(uint32_t colour, uint32_t alpha) {
    return static_cast<uint8_t>((colour * alpha + 127) / 255);
}

inline uint8_t luma(uint32_t r, uint32_t g, uint32_t b) {
    return static_cast<uint8_t>((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
}

// One pixel, every channel read before any is written, so that a pixel
// converted in place is right.
inline void convertPixel(const Plan& p, const uint8_t* s, uint8_t* d) {
    uint32_t r = s[p.src.r], g = s[p.src.g], b = s[p.src.b];
    uint32_t a = p.src.a >= 0 ? s[p.src.a] : 255;
    if (p.onBlack) {
        r = ontoBlack(r, a);
        g = ontoBlack(g, a);
        b = ontoBlack(b, a);
        a = 255;
    }
    if (p.gray) {
        d[0] = luma(r, g, b);
        return;
    }
    d[p.dst.r] = static_cast<uint8_t>(r);
    d[p.dst.g] = static_cast<uint8_t>(g);
    d[p.dst.b] = static_cast<uint8_t>(b);
    if (p.dst.a >= 0)
        d[p.dst.a] = static_cast<uint8_t>(a);
}

inline void convertRowPortable(const Plan& p, const uint8_t* src, uint8_t* dst, int width) {
    for (int x = 0; x < width; ++x, src += p.srcBytes, dst += p.dstBytes)
        convertPixel(p, src, dst);
}

#if KEO_HAVE_PIXEL_SSSE3
// Converts one row; only defined where KEO_HAVE_PIXEL_SSSE3 is 1, and the
// caller checks the processor.
void convertRowSSSE3(const Plan& p, const uint8_t* src, uint8_t* dst, int width);
#endif

} // namespace keo::pixels
