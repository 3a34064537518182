// The test picture and tone.
#include "TestPattern.h"

#include <cmath>

namespace keo::tool {
namespace {

constexpr int kCodeBits = 16;
constexpr int kCodeSquare = 8;
constexpr int kCodeX = 8; // multiples of 4: squares sit on whole blocks
constexpr int kCodeY = 4;

bool hasCode(int width, int height) {
    return width >= kCodeX + kCodeBits * kCodeSquare && height >= kCodeY + kCodeSquare + 4;
}

} // namespace

void renderPattern(int64_t frame, int width, int height, uint8_t* rgba) {
    const int box = height / 5 > 4 ? height / 5 : 4;
    const int travel = width > box ? width - box : 1;
    const int64_t boxX = (frame * 7) % travel;
    const int boxY = (height - box) / 2;
    const int alphaTop = height - height / 6;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = rgba + (static_cast<size_t>(y) * width + x) * 4;
            int64_t t = (x + y + frame * 6) % 512;
            p[0] = static_cast<uint8_t>(width > 1 ? x * 255 / (width - 1) : 0);
            p[1] = static_cast<uint8_t>(height > 1 ? y * 255 / (height - 1) : 0);
            p[2] = static_cast<uint8_t>(t < 256 ? t : 511 - t);
            p[3] = 255;
            if (x >= boxX && x < boxX + box && y >= boxY && y < boxY + box)
                p[0] = p[1] = p[2] = 255;
            if (y >= alphaTop)
                p[3] = static_cast<uint8_t>(width > 1 ? x * 255 / (width - 1) : 255);
        }
    }
    if (!hasCode(width, height))
        return;
    for (int bit = 0; bit < kCodeBits; ++bit) {
        uint8_t v = (frame >> (kCodeBits - 1 - bit)) & 1 ? 255 : 0;
        for (int y = kCodeY; y < kCodeY + kCodeSquare; ++y)
            for (int x = 0; x < kCodeSquare; ++x) {
                uint8_t* p =
                    rgba + (static_cast<size_t>(y) * width + kCodeX + bit * kCodeSquare + x) * 4;
                p[0] = p[1] = p[2] = v;
                p[3] = 255;
            }
    }
}

int64_t readPatternNumber(const uint8_t* rgba, int width, int height) {
    if (!hasCode(width, height))
        return -1;
    int64_t n = 0;
    for (int bit = 0; bit < kCodeBits; ++bit) {
        // The centre of the square; anything clearly neither black nor
        // white means the picture is not the pattern.
        const uint8_t* p = rgba + (static_cast<size_t>(kCodeY + kCodeSquare / 2) * width + kCodeX +
                                   bit * kCodeSquare + kCodeSquare / 2) *
                                      4;
        int level = (p[0] + p[1] + p[2]) / 3;
        if (level > 64 && level < 192)
            return -1;
        n = n * 2 + (level >= 192 ? 1 : 0);
    }
    return n;
}

void renderTone(int64_t first, uint32_t count, uint32_t channels, int rate, float** planar) {
    static const double kFrequencies[] = {440.0, 550.0, 660.0, 880.0, 330.0, 220.0};
    for (uint32_t c = 0; c < channels; ++c) {
        double f = kFrequencies[c % 6];
        // Whole periods per second keep the phase exact at any start frame.
        for (uint32_t i = 0; i < count; ++i) {
            int64_t n = (first + i) % rate;
            planar[c][i] = static_cast<float>(0.25 * std::sin(2.0 * M_PI * f * n / rate));
        }
    }
}

} // namespace keo::tool
