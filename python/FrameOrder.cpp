// ARGB32 host frames into the module's byte orders.
#include "FrameOrder.h"

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
    // A frame stored bottom row first has a negative pitch from its top row:
    // its lowest row in memory is the bottom one, turned over on the way.
    const bool bottomUp = pitch < 0;
    const uint8_t* lowest = bottomUp ? top + static_cast<ptrdiff_t>(height - 1) * pitch : top;
    const keo::PixelConversion how{keo::PixelLayout::ARGB, order,
                                   bottomUp ? keo::RowOrder::Flipped : keo::RowOrder::Same};
    keo::convertPixels(how, lowest, static_cast<size_t>(bottomUp ? -pitch : pitch), dest,
                       static_cast<size_t>(width) * keo::pixelBytes(order), width, height);
}

} // namespace keo::python
