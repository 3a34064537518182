// Loading the photograph of bench/make_photo.sh.
#include "BenchPhoto.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace keo::bench {

void BM_PictureMemcpy(benchmark::State& state) {
    std::vector<unsigned char> from(kPictureBytes, 0x5A), to(kPictureBytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kPictureBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPictureBytes);
}

std::string photoPath() {
    const char* path = std::getenv("KEO_BENCH_PHOTO");
    // An absolute default, so that a bench started from anywhere finds the
    // file that make_photo.sh left in the source tree.
    return path && *path ? path : KEO_BENCH_DEFAULT_PHOTO;
}

bool loadPhoto(std::vector<unsigned char>* picture) {
    FILE* file = std::fopen(photoPath().c_str(), "rb");
    if (!file)
        return false;
    const size_t pixels = size_t(kPictureWidth) * kPictureHeight;
    std::vector<unsigned char> rgb(pixels * 3);
    const bool complete = std::fread(rgb.data(), 1, rgb.size(), file) == rgb.size();
    std::fclose(file);
    if (!complete)
        return false;
    picture->resize(pixels * 4);
    unsigned char* argb = picture->data();
    for (size_t i = 0; i < pixels; ++i) {
        argb[4 * i] = 255;
        std::memcpy(&argb[4 * i + 1], &rgb[3 * i], 3);
    }
    return true;
}

std::vector<unsigned char> withAlphaGradient(std::vector<unsigned char> picture) {
    const int span = kPictureWidth + kPictureHeight - 2;
    for (int y = 0; y < kPictureHeight; ++y)
        for (int x = 0; x < kPictureWidth; ++x)
            picture[(static_cast<size_t>(y) * kPictureWidth + x) * 4] =
                static_cast<unsigned char>(255 - (x + y) * 255 / span);
    return picture;
}

} // namespace keo::bench
