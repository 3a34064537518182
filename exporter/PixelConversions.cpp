// Float pixel conversions of the export code.
//
// Floats are moved with memcpy and v410 words spelled out byte by byte, so the
// char buffers may sit at any address and the words mean the same on any
// machine.
#include "exporter/PixelConversions.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/ByteOrder.h"

namespace {

using keo::exporter::max;
using keo::exporter::min;

constexpr size_t kFloatPixel = 16;
constexpr size_t kBytePixel = 4;

void loadPixel(const char* p, float f[4]) {
    std::memcpy(f, p, kFloatPixel);
}
void storePixel(char* p, const float f[4]) {
    std::memcpy(p, f, kFloatPixel);
}

// Pixels of a width x height picture, 0 for an empty one. Any int x int
// product fits size_t on the 64-bit targets we build for.
size_t pixelCount(int width, int height) {
    if (width < 1 || height < 1)
        return 0;
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}

} // namespace

void ConvertFrom8uTo32f(char* source, char* destination, int width, int height) {
    const size_t n = pixelCount(width, height);
    const unsigned char* src = reinterpret_cast<const unsigned char*>(source);
    for (size_t i = 0; i < n; ++i) {
        float f[4];
        for (int c = 0; c < 4; ++c)
            f[c] = src[i * kBytePixel + c] / 255.0f;
        storePixel(destination + i * kFloatPixel, f);
    }
}

void ConvertFromBGRA32fToVUYA32f(char* picture, int width, int height) {
    const size_t n = pixelCount(width, height);
    for (size_t i = 0; i < n; ++i) {
        float f[4];
        loadPixel(picture + i * kFloatPixel, f);
        const float b = f[0], g = f[1], r = f[2];
        const float y = 0.114f * b + 0.587f * g + 0.299f * r;
        const float u = 0.5f * b - 0.331264f * g - 0.168736f * r;
        const float v = -0.081312f * b - 0.418688f * g + 0.5f * r;
        f[0] = v;
        f[1] = u;
        f[2] = y;
        storePixel(picture + i * kFloatPixel, f);
    }
}

void ConvertFrom32fToV410(char* source, char* destination, int width, int height) {
    const size_t n = pixelCount(width, height);
    unsigned char* dst = reinterpret_cast<unsigned char*>(destination);
    for (size_t i = 0; i < n; ++i) {
        float f[4];
        loadPixel(source + i * kFloatPixel, f);
        // The +0.5 rounds once the value is truncated; clamping first keeps
        // the float-to-int conversion defined for any input, NaN included.
        const uint32_t v = static_cast<uint32_t>(min(max(f[0] * 896.0f + 512.5f, 64.0f), 960.0f));
        const uint32_t u = static_cast<uint32_t>(min(max(f[1] * 896.0f + 512.5f, 64.0f), 960.0f));
        const uint32_t y = static_cast<uint32_t>(min(max(f[2] * 876.0f + 64.5f, 64.0f), 940.0f));
        keo::storeLE32(dst + i * kBytePixel, (v << 2) | (y << 12) | (u << 22));
    }
}

void ConvertFromV410To32f(char* source, char* destination, int width, int height) {
    const size_t n = pixelCount(width, height);
    const unsigned char* src = reinterpret_cast<const unsigned char*>(source);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t word = keo::loadLE32(src + i * kBytePixel);
        const int v = static_cast<int>((word >> 2) & 0x3FF);
        const int y = static_cast<int>((word >> 12) & 0x3FF);
        const int u = static_cast<int>((word >> 22) & 0x3FF);
        const float f[4] = {(v - 512) / 896.0f, (u - 512) / 896.0f, (y - 64) / 876.0f, 1.0f};
        storePixel(destination + i * kFloatPixel, f);
    }
}
