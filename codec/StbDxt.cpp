// The one translation unit that compiles stb_dxt, with internal linkage.
#include "codec/StbDxt.h"

// stb_dxt calls memcpy without including its header.
#include <cstring>

#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>

static_assert(keo::kStbDxtHighQuality == STB_DXT_HIGHQUAL, "mode bit differs from stb_dxt");

namespace keo {

void stb_compress_dxt_block(unsigned char* dest, const unsigned char* rgba, int alpha, int mode) {
    ::stb_compress_dxt_block(dest, rgba, alpha, mode);
}

void stb_compress_alpha_block(unsigned char* dest, const unsigned char* rgba) {
    // stb's alpha encoder does not write through its source; the cast only
    // meets its non-const signature. Stride 4 walks the A bytes.
    stb__CompressAlphaBlock(dest, const_cast<unsigned char*>(rgba) + 3, 4);
}

} // namespace keo
