// The byte orders in which keodec hands out pixels, and the in-place
// reordering from the codec's ARGB32 into them.
//
// The codec decodes into ARGB32 (bytes A, R, G, B). Downstream elements
// mostly want B, G, R, A or R, G, B, A; the "x" formats are the same bytes
// with the alpha byte left for the consumer to ignore, so they need no order
// of their own.
#pragma once

#include <cstddef>

enum KEOPixelOrder {
    kKEOOrderARGB, // the codec's own: nothing to do
    kKEOOrderBGRA, // also BGRx
    kKEOOrderRGBA, // also RGBx
};

// Rewrites `height` rows of `width` ARGB32 pixels, row y at row0 + y * pitch,
// into `order`. Bytes between rows are not touched.
void KEOReorderPixels(unsigned char* row0, ptrdiff_t pitch, int width, int height,
                      KEOPixelOrder order);
