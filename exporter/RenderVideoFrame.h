// Pieces of RenderAndWriteVideoFrame that tests reach directly.
#pragma once

#include <cstddef>

namespace keo::exporter {

// The host's bottom-up B, G, R, A frame (rows `rowBytes` apart, at least
// width x 4) into a top-down A, R, G, B picture with packed rows: each pixel's
// four bytes are reversed and the rows are taken from the bottom up.
void bottomUpBGRAToARGB(const unsigned char* frame, size_t rowBytes, int width, int height,
                        unsigned char* argb);

} // namespace keo::exporter
