// DXT24 decoding through a table of two-thirds mixes.
#include "codec/DXT24Decode.h"

#include <cstddef>
#include <mutex>

#include "codec/DXT1DXT5Decode.h"

unsigned char thirdsTable[256 * 256];
std::atomic<bool> initThirds{false};

namespace {

std::once_flag g_thirdsOnce;

void fillThirdsTable() {
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            thirdsTable[a * 256 + b] = static_cast<unsigned char>((2 * a + b + 1) / 3);
    // Published only now, so that a reader that sees the flag sees the table.
    initThirds.store(true, std::memory_order_release);
}

} // namespace

void InitThirdsTable() {
    if (initThirds.load(std::memory_order_acquire))
        return;
    std::call_once(g_thirdsOnce, fillThirdsTable);
}

// Six table reads replace the divisions by three.
void BuildPaletteDXT24(const unsigned char* colourBlock, uint32_t alpha, uint32_t palette[4]) {
    const uint32_t r0 = colourBlock[0], g0 = colourBlock[1], b0 = colourBlock[2];
    const uint32_t r1 = colourBlock[3], g1 = colourBlock[4], b1 = colourBlock[5];
    palette[0] = PixelWord(PackARGB(r0, g0, b0, alpha));
    palette[1] = PixelWord(PackARGB(r1, g1, b1, alpha));
    palette[2] = PixelWord(PackARGB(thirdsTable[r0 * 256 + r1], thirdsTable[g0 * 256 + g1],
                                    thirdsTable[b0 * 256 + b1], alpha));
    palette[3] = PixelWord(PackARGB(thirdsTable[r1 * 256 + r0], thirdsTable[g1 * 256 + g0],
                                    thirdsTable[b1 * 256 + b0], alpha));
}
