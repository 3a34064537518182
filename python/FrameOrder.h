// The byte orders the Python module delivers frames in, and the one
// conversion from the host's frame into them.
//
// The importer hands the host ARGB32 frames (bytes A, R, G, B), bottom row
// first. convertFrame turns such a frame, wherever its rows lie, into packed
// top-down rows of the order asked for, through the project's one pixel
// conversion (base/PixelOrder.h): the orders are its layouts, by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/PixelOrder.h"

namespace keo::python {

using PixelOrder = keo::PixelLayout;

// The order of a name ("rgba", "bgra", "argb", "rgb", "bgr", "gray"); false
// for any other.
bool pixelOrderNamed(const std::string& name, PixelOrder* order);
const char* pixelOrderName(PixelOrder order);
// Bytes per pixel: 4, 3 or 1.
int pixelOrderChannels(PixelOrder order);

// Row y of the source picture (width x 4 bytes A, R, G, B) starts at
// top + y * pitch; `dest` receives width x height pixels of `order`, rows
// packed, top row first. Gray is ITU-R 601 luma, rounded:
// (19595 R + 38470 G + 7471 B + 32768) >> 16.
void convertFrame(const uint8_t* top, ptrdiff_t pitch, int width, int height, PixelOrder order,
                  uint8_t* dest);

} // namespace keo::python
