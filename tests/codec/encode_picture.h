// Seeded test pictures for the encoder tests and benchmark, and the PSNR
// that compares a decoded picture with its source.
//
// A "natural-looking" picture is a smooth two-colour gradient with value noise
// at three scales (large shading, mid texture, fine grain) and a few soft-edged
// discs and hard-edged bars, so blocks range from flat to busy as in footage.
// Everything is integer arithmetic on a small hash, so a seed gives the same
// bytes on every machine.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace encode_test {

inline uint32_t hash32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

inline uint32_t hash3(uint32_t a, uint32_t b, uint32_t seed) {
    return hash32(a * 0x9E3779B1u ^ hash32(b * 0x85EBCA77u ^ hash32(seed)));
}

// Bilinear value noise in 0..255 with lattice cells of `cell` pixels.
inline int valueNoise(int x, int y, int cell, uint32_t seed) {
    const int cx = x / cell, cy = y / cell;
    const int fx = x % cell, fy = y % cell;
    auto at = [&](int i, int j) {
        return static_cast<int>(
            hash3(static_cast<uint32_t>(cx + i), static_cast<uint32_t>(cy + j), seed) & 0xFF);
    };
    const int top = at(0, 0) * (cell - fx) + at(1, 0) * fx;
    const int bottom = at(0, 1) * (cell - fx) + at(1, 1) * fx;
    return (top * (cell - fy) + bottom * fy) / (cell * cell);
}

inline unsigned char clampByte(int v) {
    return static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// ARGB32 (bytes A, R, G, B), rows packed, top row first. With varyAlpha the
// alpha follows its own noise field; otherwise every pixel is opaque.
inline std::vector<unsigned char> naturalPicture(int width, int height, uint32_t seed,
                                                 bool varyAlpha = false) {
    std::vector<unsigned char> picture(static_cast<size_t>(width) * height * 4);
    int from[3], to[3];
    for (int c = 0; c < 3; ++c) {
        from[c] = 40 + static_cast<int>(hash3(c, 1, seed) % 120);
        to[c] = 100 + static_cast<int>(hash3(c, 2, seed) % 150);
    }
    struct Disc {
        int x, y, r, colour[3];
    } discs[6];
    for (int d = 0; d < 6; ++d) {
        discs[d].x = static_cast<int>(hash3(d, 10, seed) % static_cast<uint32_t>(width));
        discs[d].y = static_cast<int>(hash3(d, 11, seed) % static_cast<uint32_t>(height));
        discs[d].r =
            4 + static_cast<int>(hash3(d, 12, seed) %
                                 static_cast<uint32_t>((width < height ? width : height) / 4 + 1));
        for (int c = 0; c < 3; ++c)
            discs[d].colour[c] = static_cast<int>(hash3(d, 20 + c, seed) & 0xFF);
    }
    const int barX = static_cast<int>(hash3(30, 0, seed) % static_cast<uint32_t>(width));
    const int barW = 2 + width / 16;

    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int t = (x + y) * 256 / (width + height);
            const int shade = valueNoise(x, y, 64, seed + 1) - 128;
            const int texture = valueNoise(x, y, 8, seed + 2) - 128;
            const int grain = static_cast<int>(hash3(x, y, seed + 3) & 15) - 8;
            int rgb[3];
            for (int c = 0; c < 3; ++c)
                rgb[c] = (from[c] * (256 - t) + to[c] * t) / 256 + shade / 3 + texture / 6 + grain +
                         (c == 1 ? texture / 12 : 0);
            for (const Disc& d : discs) {
                const int dx = x - d.x, dy = y - d.y;
                const int dist = static_cast<int>(std::sqrt(double(dx * dx + dy * dy)));
                if (dist < d.r + 3) {
                    // Soft edge over the outer three pixels.
                    const int w = dist <= d.r ? 256 : 256 * (d.r + 3 - dist) / 3;
                    for (int c = 0; c < 3; ++c)
                        rgb[c] = (rgb[c] * (256 - w) + (d.colour[c] + texture / 8) * w) / 256;
                }
            }
            if (x >= barX && x < barX + barW) {
                rgb[0] = 230 + grain;
                rgb[1] = 225 + grain;
                rgb[2] = 30 + grain;
            }
            unsigned char* p = &picture[(static_cast<size_t>(y) * width + x) * 4];
            p[0] =
                varyAlpha ? clampByte(valueNoise(x, y, 16, seed + 4) + (x * 64) / width - 32) : 255;
            p[1] = clampByte(rgb[0]);
            p[2] = clampByte(rgb[1]);
            p[3] = clampByte(rgb[2]);
        }
    }
    return picture;
}

// Uniformly random bytes: incompressible, and the worst case for the blocks.
inline std::vector<unsigned char> noisePicture(int width, int height, uint32_t seed) {
    std::vector<unsigned char> picture(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<unsigned char>(hash3(static_cast<uint32_t>(i), 0, seed));
    return picture;
}

// PSNR in dB over the R, G and B bytes (or the A bytes alone) of two ARGB32
// pictures of the same size. Identical pictures give 99.
inline double psnr(const unsigned char* a, const unsigned char* b, size_t pixels,
                   bool alphaOnly = false) {
    double sum = 0;
    size_t count = 0;
    for (size_t i = 0; i < pixels; ++i) {
        for (int c = alphaOnly ? 0 : 1; c < (alphaOnly ? 1 : 4); ++c) {
            const double d = double(a[i * 4 + c]) - double(b[i * 4 + c]);
            sum += d * d;
            ++count;
        }
    }
    if (sum == 0)
        return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 / (sum / double(count)));
}

} // namespace encode_test
