// Still pictures in: PNG, TIFF and JPEG, always as 8-bit straight RGBA.
//
// The kind is told by the file's first bytes, not its name. Samples are
// taken as they are stored: 16-bit samples are scaled to 8 bits with
// rounding (v x 255 / 65535), and no gamma, colour profile or other colour
// change is applied. Grey becomes R = G = B; a picture without alpha is
// opaque; premultiplied (associated) TIFF alpha is made straight.
//
//   PNG:  every colour type and depth (libpng)
//   TIFF: 8 and 16-bit grey, RGB and palette, with or without alpha, in
//         strips or tiles; other kinds through libtiff's RGBA reader
//   JPEG: grey, YCbCr and CMYK (libjpeg-turbo)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace keo::tool {

struct RgbaPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba; // width x height x 4, top row first, rows packed
};

// Throws Failure naming the file and why it cannot be read.
RgbaPicture readStill(const std::string& path);
// The same into `into`, whose pixel memory is used again where the picture
// fits in it (stills read one after another into one picture need no fresh
// memory). After a failure `into` holds no picture to use.
void readStill(const std::string& path, RgbaPicture* into);

// Whether a file name ends in .png, .tif, .tiff, .jpg or .jpeg (any case):
// the files of a folder that an export takes as its pictures.
bool isStillName(const std::string& name);

// Natural order of file names: runs of digits compare by their value, so
// frame2 comes before frame10; names equal that way fall back to byte order.
bool naturalLess(const std::string& a, const std::string& b);

} // namespace keo::tool
