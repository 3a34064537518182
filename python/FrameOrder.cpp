// The module's byte orders by name.
#include "FrameOrder.h"

namespace keo::python {
namespace {

struct NamedOrder {
    const char* name;
    PixelOrder order;
};

constexpr NamedOrder kOrders[] = {
    {"rgba", PixelOrder::RGBA}, {"bgra", PixelOrder::BGRA}, {"argb", PixelOrder::ARGB},
    {"rgb", PixelOrder::RGB},   {"bgr", PixelOrder::BGR},   {"gray", PixelOrder::Gray},
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

} // namespace keo::python
