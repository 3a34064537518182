// The plan of a conversion, the portable path, and the choice of path.
#include "base/PixelOrder.h"

#include "base/PixelPlan.h"

namespace keo {
namespace pixels {
namespace {

constexpr Channels kRGBAOrder = {0, 1, 2, 3};

int8_t offsetOf(const Channels& c, int channel) {
    switch (channel) {
    case 0:
        return c.r;
    case 1:
        return c.g;
    case 2:
        return c.b;
    default:
        return c.a;
    }
}

// The shuffle that puts four pixels of layout `from` (pixels `fromBytes`
// apart) into four of layout `to`, and the OR that gives alpha to a target
// whose source has none.
void buildShuffle(const Channels& from, int fromBytes, const Channels& to, int toBytes,
                  uint8_t* control, uint8_t* alpha) {
    for (int i = 0; i < 16; ++i) {
        control[i] = kZeroByte;
        alpha[i] = 0;
    }
    for (int k = 0; k < 4; ++k)
        for (int channel = 0; channel < 4; ++channel) {
            const int at = offsetOf(to, channel);
            if (at < 0)
                continue;
            const int target = k * toBytes + at;
            const int source = offsetOf(from, channel);
            if (source >= 0)
                control[target] = static_cast<uint8_t>(k * fromBytes + source);
            else
                alpha[target] = 0xFF;
        }
}

} // namespace

Channels channelsOf(PixelLayout layout) {
    switch (layout) {
    case PixelLayout::ARGB:
        return {1, 2, 3, 0};
    case PixelLayout::RGBA:
        return {0, 1, 2, 3};
    case PixelLayout::BGRA:
        return {2, 1, 0, 3};
    case PixelLayout::RGB:
        return {0, 1, 2, -1};
    case PixelLayout::BGR:
        return {2, 1, 0, -1};
    case PixelLayout::Gray:
        break;
    }
    return {0, 0, 0, -1};
}

Plan makePlan(const PixelConversion& how) {
    Plan p{};
    p.srcBytes = pixelBytes(how.from);
    p.dstBytes = pixelBytes(how.to);
    p.src = channelsOf(how.from);
    p.dst = channelsOf(how.to);
    p.gray = how.to == PixelLayout::Gray;
    // An opaque source is already its own picture over black.
    p.onBlack = how.alpha == PixelAlpha::OntoBlack && p.src.a >= 0;
    if (!p.gray)
        buildShuffle(p.src, p.srcBytes, p.dst, p.dstBytes, p.direct, p.directAlpha);
    buildShuffle(p.src, p.srcBytes, kRGBAOrder, 4, p.toRGBA, p.toRGBAAlpha);
    if (!p.gray) {
        uint8_t unused[16];
        buildShuffle(kRGBAOrder, 4, p.dst, p.dstBytes, p.fromRGBA, unused);
    }
    return p;
}

} // namespace pixels

int pixelBytes(PixelLayout layout) {
    switch (layout) {
    case PixelLayout::RGB:
    case PixelLayout::BGR:
        return 3;
    case PixelLayout::Gray:
        return 1;
    default:
        return 4;
    }
}

bool layoutHasAlpha(PixelLayout layout) {
    return pixelBytes(layout) == 4;
}

bool pixelPathAvailable(PixelPath path) {
#if KEO_HAVE_PIXEL_SSSE3
    static const bool haveSSSE3 = __builtin_cpu_supports("ssse3");
    return path != PixelPath::SSSE3 || haveSSSE3;
#else
    return path != PixelPath::SSSE3;
#endif
}

bool convertPixels(const PixelConversion& how, const uint8_t* src, size_t srcPitch, uint8_t* dst,
                   size_t dstPitch, int width, int height, PixelPath path) {
    if (how.from == PixelLayout::Gray || width < 0 || height < 0 || !pixelPathAvailable(path))
        return false;
    if (width == 0 || height == 0)
        return true;
    const pixels::Plan plan = pixels::makePlan(how);
#if KEO_HAVE_PIXEL_SSSE3
    const bool simd = path != PixelPath::Portable && pixelPathAvailable(PixelPath::SSSE3);
#endif
    for (int y = 0; y < height; ++y) {
        const int target = how.rows == RowOrder::Flipped ? height - 1 - y : y;
        const uint8_t* from = src + static_cast<size_t>(y) * srcPitch;
        uint8_t* to = dst + static_cast<size_t>(target) * dstPitch;
#if KEO_HAVE_PIXEL_SSSE3
        if (simd) {
            pixels::convertRowSSSE3(plan, from, to, width);
            continue;
        }
#endif
        pixels::convertRowPortable(plan, from, to, width);
    }
    return true;
}

} // namespace keo
