// The photograph that bench/make_photo.sh prepares: 1920x1080 raw 8-bit RGB,
// top row first, in build/photo-1920x1080.rgb of the source tree (or wherever
// $KEO_BENCH_PHOTO points). The benchmarks run on it beside their synthetic
// pictures when it is there, and without it when it is not.
//
// Every benchmark's pictures, synthetic or not, are the photograph's size,
// so that the figures of different benchmarks compare, and each is read
// against the same floor: a hot memcpy of one picture.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keo::bench {

constexpr int kPictureWidth = 1920;
constexpr int kPictureHeight = 1080;
constexpr size_t kPictureBytes = size_t(kPictureWidth) * kPictureHeight * 4;
// The seed of the synthetic pictures (encode_test::naturalPicture).
constexpr uint32_t kSyntheticSeed = 20240611;

// A memcpy of kPictureBytes from one warm buffer into another.
void BM_PictureMemcpy(benchmark::State& state);

// Where the photograph is looked for.
std::string photoPath();

// The photograph as ARGB32 (alpha 255), top row first. False, with `picture`
// untouched, when the file is missing or shorter than a whole picture.
bool loadPhoto(std::vector<unsigned char>* picture);

// A picture of the benchmarks' size with its alpha falling from 255 at the
// top left to 0 at the bottom right, as a title over footage might fade: the
// photograph's frame for DXT5.
std::vector<unsigned char> withAlphaGradient(std::vector<unsigned char> picture);

} // namespace keo::bench
