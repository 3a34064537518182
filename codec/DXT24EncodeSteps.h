// The steps of the DXT24 block encoder that the portable and the SSE2 paths
// share: everything outside the per-pixel loops. Both paths call these very
// expressions, so their float steps round alike and the paths give the same
// bytes.
#pragma once

#include <cmath>
#include <cstdint>

#include "base/ByteOrder.h"

namespace keo::dxt24 {

inline uint32_t pack24(int r, int g, int b) {
    return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) |
           static_cast<uint32_t>(b);
}

// Channel 0 (R), 1 (G) or 2 (B) of a packed colour.
inline int channel(uint32_t colour, int ch) {
    return static_cast<int>((colour >> (16 - 8 * ch)) & 0xFF);
}

inline int clamp255(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// The block's principal axis in integers, from the covariance of its pixels
// (rr, rg, rb, gg, gb, bb about the rounded mean) and the per-channel
// minimum and maximum.
inline void principalAxis(const int cov[6], const int minv[3], const int maxv[3], int axis[3]) {
    // The covariance stays in single precision so that the axis, and with it
    // every encoded byte, is the same on every machine that rounds IEEE floats.
    float covf[6];
    for (int i = 0; i < 6; ++i)
        covf[i] = static_cast<float>(cov[i]) / 255.0f;

    // Power iteration from the bounding-box diagonal converges on the
    // dominant eigenvector well enough in four steps for 16 pixels.
    float vr = static_cast<float>(maxv[0] - minv[0]);
    float vg = static_cast<float>(maxv[1] - minv[1]);
    float vb = static_cast<float>(maxv[2] - minv[2]);
    for (int iter = 0; iter < 4; ++iter) {
        const float r = vr * covf[0] + vg * covf[1] + vb * covf[2];
        const float g = vr * covf[1] + vg * covf[3] + vb * covf[4];
        const float b = vr * covf[2] + vg * covf[4] + vb * covf[5];
        vr = r;
        vg = g;
        vb = b;
    }

    double magnitude = std::fabs(vr);
    if (std::fabs(vg) > magnitude)
        magnitude = std::fabs(vg);
    if (std::fabs(vb) > magnitude)
        magnitude = std::fabs(vb);

    if (magnitude < 4.0) {
        // Too little spread to trust the direction: use luminance (YCbCr
        // luma weights times 1000) so that the extremes are darkest and
        // brightest.
        axis[0] = 299;
        axis[1] = 587;
        axis[2] = 114;
    } else {
        const double scale = 512.0 / magnitude;
        axis[0] = static_cast<int>(vr * scale);
        axis[1] = static_cast<int>(vg * scale);
        axis[2] = static_cast<int>(vb * scale);
    }
}

// Solves the least-squares normal equations for the two end points, given
// per channel at1 = sum w1 * p and at2 = sum w2 * p (w1 the weight of c_max
// in thirds, w2 = 3 - w1) and the coefficients xx = sum w1^2, yy = sum w2^2,
// xy = sum w1 w2. Not all indices are equal, so the weight vectors are
// independent and the determinant is positive.
inline void solveEndPoints(const int at1[3], const int at2[3], int xx, int yy, int xy,
                           uint32_t* cmax, uint32_t* cmin) {
    const float f = 3.0f / static_cast<float>(xx * yy - xy * xy);
    int hi[3], lo[3];
    for (int ch = 0; ch < 3; ++ch) {
        const float vmax = static_cast<float>(at1[ch] * yy - at2[ch] * xy) * f + 0.5f;
        const float vmin = static_cast<float>(at2[ch] * xx - at1[ch] * xy) * f + 0.5f;
        hi[ch] = clamp255(static_cast<int>(vmax));
        lo[ch] = clamp255(static_cast<int>(vmin));
    }
    *cmax = pack24(hi[0], hi[1], hi[2]);
    *cmin = pack24(lo[0], lo[1], lo[2]);
}

// Writes the 10-byte block with the larger colour first.
inline void storeBlock(unsigned char* dest, uint32_t cmax, uint32_t cmin, uint32_t mask) {
    // Swapping the ends swaps indices 0<->1 and 2<->3, which is the low bit
    // of every index.
    if (cmax < cmin) {
        const uint32_t t = cmax;
        cmax = cmin;
        cmin = t;
        mask ^= 0x55555555u;
    }
    storeBE24(dest + 0, cmax);
    storeBE24(dest + 3, cmin);
    storeLE32(dest + 6, mask);
}

} // namespace keo::dxt24
