// The byte orders the Python module delivers frames in, by name: the
// project's pixel layouts (base/PixelOrder.h), which keo::lib::copyFrameRows
// turns the host's frames into. Gray is ITU-R 601 luma, rounded:
// (19595 R + 38470 G + 7471 B + 32768) >> 16.
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

} // namespace keo::python
