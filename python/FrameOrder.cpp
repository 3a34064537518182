// ARGB32 host frames into the module's byte orders.
#include "FrameOrder.h"

#include <cstring>

namespace keo::python {
namespace {

struct NamedOrder {
    const char* name;
    PixelOrder order;
    int channels;
};

constexpr NamedOrder kOrders[] = {
    {"rgba", PixelOrder::RGBA, 4}, {"bgra", PixelOrder::BGRA, 4}, {"argb", PixelOrder::ARGB, 4},
    {"rgb", PixelOrder::RGB, 3},   {"bgr", PixelOrder::BGR, 3},   {"gray", PixelOrder::Gray, 1},
};

// The orders that only move bytes: From names the source byte (0 A, 1 R,
// 2 G, 3 B) of each destination byte, fixed at compile time so that the
// loop unrolls.
template <int... From> void pick(const uint8_t* src, uint8_t* dest, int width) {
    constexpr int from[] = {From...};
    constexpr int channels = sizeof...(From);
    for (int x = 0; x < width; ++x, src += 4, dest += channels)
        for (int c = 0; c < channels; ++c)
            dest[c] = src[from[c]];
}

// The weights sum to 65536, so white stays 255 and the sum fits 32 bits.
void luma(const uint8_t* src, uint8_t* dest, int width) {
    for (int x = 0; x < width; ++x, src += 4)
        dest[x] = static_cast<uint8_t>(
            (19595u * src[1] + 38470u * src[2] + 7471u * src[3] + 32768u) >> 16);
}

} // namespace

bool pixelOrderNamed(const std::string& name, PixelOrder* order) {
    for (const NamedOrder& o : kOrders)
        if (name == o.name) {
            *order = o.order;
            return true;
        }
    return false;
}

const char* pixelOrderName(PixelOrder order) {
    for (const NamedOrder& o : kOrders)
        if (o.order == order)
            return o.name;
    return "?";
}

int pixelOrderChannels(PixelOrder order) {
    for (const NamedOrder& o : kOrders)
        if (o.order == order)
            return o.channels;
    return 4;
}

void convertFrame(const uint8_t* top, ptrdiff_t pitch, int width, int height, PixelOrder order,
                  uint8_t* dest) {
    const int channels = pixelOrderChannels(order);
    const size_t rowBytes = static_cast<size_t>(width) * channels;
    for (int y = 0; y < height; ++y, dest += rowBytes) {
        const uint8_t* src = top + static_cast<ptrdiff_t>(y) * pitch;
        switch (order) {
        case PixelOrder::ARGB:
            std::memcpy(dest, src, rowBytes);
            break;
        case PixelOrder::RGBA:
            pick<1, 2, 3, 0>(src, dest, width);
            break;
        case PixelOrder::BGRA:
            pick<3, 2, 1, 0>(src, dest, width);
            break;
        case PixelOrder::RGB:
            pick<1, 2, 3>(src, dest, width);
            break;
        case PixelOrder::BGR:
            pick<3, 2, 1>(src, dest, width);
            break;
        case PixelOrder::Gray:
            luma(src, dest, width);
            break;
        }
    }
}

} // namespace keo::python
