// In-place pixel reordering: one byte shuffle per four pixels where the
// processor has SSSE3, a byte swap or a rotation per pixel elsewhere.
#include "gst/KEOPixelOrder.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <tmmintrin.h>
#define KEO_GST_SSSE3 1
#else
#define KEO_GST_SSSE3 0
#endif

namespace {

// B, G, R, A is the reversal of A, R, G, B, and R, G, B, A its rotation by
// one byte. Byte by byte, so any pitch and alignment is legal.
void reorderRowPortable(unsigned char* row, int width, KEOPixelOrder order) {
    for (int x = 0; x < width; ++x, row += 4) {
        const unsigned char a = row[0], r = row[1], g = row[2], b = row[3];
        if (order == kKEOOrderBGRA) {
            row[0] = b, row[1] = g, row[2] = r, row[3] = a;
        } else {
            row[0] = r, row[1] = g, row[2] = b, row[3] = a;
        }
    }
}

#if KEO_GST_SSSE3
__attribute__((target("ssse3"))) void reorderRowSSSE3(unsigned char* row, int width,
                                                      KEOPixelOrder order) {
    const __m128i control =
        order == kKEOOrderBGRA
            ? _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12)
            : _mm_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12);
    int x = 0;
    for (; x + 4 <= width; x += 4, row += 16) {
        __m128i* at = reinterpret_cast<__m128i*>(row);
        _mm_storeu_si128(at, _mm_shuffle_epi8(_mm_loadu_si128(at), control));
    }
    reorderRowPortable(row, width - x, order);
}

bool haveSSSE3() {
    static const bool supported = __builtin_cpu_supports("ssse3");
    return supported;
}
#endif

} // namespace

void KEOReorderPixels(unsigned char* row0, ptrdiff_t pitch, int width, int height,
                      KEOPixelOrder order) {
    if (order == kKEOOrderARGB || width < 1)
        return;
    unsigned char* row = row0;
    for (int y = 0; y < height; ++y, row += pitch) {
#if KEO_GST_SSSE3
        if (haveSSSE3()) {
            reorderRowSSSE3(row, width, order);
            continue;
        }
#endif
        reorderRowPortable(row, width, order);
    }
}
