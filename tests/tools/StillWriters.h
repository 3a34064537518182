// Still pictures of every kind the export reads, written by code with
// libpng, libtiff and libjpeg-turbo, each with the 8-bit RGBA that a
// faithful reader must give for it.
//
// The 16-bit pictures hold v x 257 + d with d in -128..127 for the 8-bit
// value v, so that only a reader that scales with rounding gets v back; no
// gamma or colour chunk is written, so any colour change shows as an error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace keotest {

// The reference picture: width x height RGBA, alpha varied when `alpha`.
std::vector<uint8_t> stillReference(int width, int height, bool alpha);

// Each writes `path` and returns the RGBA a reader must give (the same as
// stillReference, reduced to what the kind can hold); empty on failure.
std::vector<uint8_t> writePng(const std::string& path, int width, int height, int colorType,
                              int bitDepth);
// `compression` and `orientation` are libtiff's codes; rows are written in
// the file's order whatever the orientation says.
std::vector<uint8_t> writeTiff(const std::string& path, int width, int height, int samples,
                               int bits, bool planar, int compression = 1, int orientation = 1);
// JPEG is lossy: returns the reference it was made from.
std::vector<uint8_t> writeJpeg(const std::string& path, int width, int height, bool grey);

} // namespace keotest
