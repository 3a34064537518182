// DXT1/DXT5 frame walk: gathers each 4x4 block as R, G, B, A and hands it to
// stb_dxt in high-quality mode.
#include "codec/DXT1DXT5Encode.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "codec/StbDxt.h"

namespace {

// The working and output blocks are static, as the encoder has always kept
// them; the lock makes two encodes at once wait for each other instead of
// mixing blocks. stb_dxt compares pixels as 32-bit words, hence the alignment.
alignas(16) unsigned char _srcBlock[64];
alignas(16) unsigned char destBlock[16];
std::mutex g_blockLock;

// Gathers each 4x4 block into `block` as R, G, B, A and compresses it into
// `out`.
void encodeRegion(unsigned char* destination, const unsigned char* source, int width, int height,
                  int rowBytes, bool alpha, unsigned char* block, unsigned char* out) {
    // 0 means packed rows, as for the DXT24 encoder; reading row 0 for every
    // row would turn a frame into vertical stripes depending on its layout.
    const std::ptrdiff_t stride = rowBytes != 0 ? rowBytes : static_cast<std::ptrdiff_t>(width) * 4;
    const int blocksX = static_cast<int>((static_cast<int64_t>(width) + 3) / 4);
    const int blocksY = static_cast<int>((static_cast<int64_t>(height) + 3) / 4);
    const std::size_t outBytes = alpha ? 16 : 8;

    for (int by = 0; by < blocksY; ++by) {
        const int y = by * 4;
        for (int bx = 0; bx < blocksX; ++bx) {
            const int x = bx * 4;
            for (int j = 0; j < 4; ++j) {
                const int sy = y + j < height ? y + j : height - 1;
                const unsigned char* row = source + sy * stride;
                for (int i = 0; i < 4; ++i) {
                    const int sx = x + i < width ? x + i : width - 1;
                    const unsigned char* p = row + static_cast<std::ptrdiff_t>(sx) * 4;
                    unsigned char* q = block + (j * 4 + i) * 4;
                    q[0] = p[1];
                    q[1] = p[2];
                    q[2] = p[3];
                    q[3] = p[0];
                }
            }
            keo::stb_compress_dxt_block(out, block, alpha ? 1 : 0, keo::kStbDxtHighQuality);
            std::memcpy(destination, out, outBytes);
            destination += outBytes;
        }
    }
}

} // namespace

void stbCompressARGB32(unsigned char* destination, const unsigned char* source, int width,
                       int height, int rowBytes, bool alpha) {
    if (height < 1 || width < 1)
        return;
    std::lock_guard<std::mutex> lock(g_blockLock);
    encodeRegion(destination, source, width, height, rowBytes, alpha, _srcBlock, destBlock);
}

void KEOEncodeDXT1DXT5Region(unsigned char* destination, const unsigned char* source, int width,
                             int height, int rowBytes, bool alpha) {
    if (height < 1 || width < 1)
        return;
    alignas(16) unsigned char block[64];
    alignas(16) unsigned char out[16];
    encodeRegion(destination, source, width, height, rowBytes, alpha, block, out);
}
