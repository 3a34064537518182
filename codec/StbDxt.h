// The bundled stb_dxt block compressor, reached through names of our own.
//
// stb_dxt is compiled once into keo_codec (StbDxt.cpp) with its functions
// static, so the plug-in module neither needs a shared libstb nor clashes with
// another copy of stb_dxt that a host might have loaded. These wrappers are
// the only way in.
#pragma once

namespace keo {

// Mode bit that asks for two refinement passes instead of one.
enum { kStbDxtHighQuality = 2 };

// One DXT1 block (alpha 0, 8 bytes) or DXT5 block (alpha 1, 16 bytes, alpha
// half first) from 16 pixels of R, G, B, A bytes in raster order.
void stb_compress_dxt_block(unsigned char* dest, const unsigned char* rgba, int alpha, int mode);

// The 8-byte DXT5 alpha block (largest alpha, smallest alpha, 16 three-bit
// codes) of the A bytes of 16 R, G, B, A pixels.
void stb_compress_alpha_block(unsigned char* dest, const unsigned char* rgba);

} // namespace keo
