// The photograph that bench/make_photo.sh prepares: 1920x1080 raw 8-bit RGB,
// top row first, in build/photo-1920x1080.rgb of the source tree (or wherever
// $KEO_BENCH_PHOTO points). The benchmarks run on it beside their synthetic
// pictures when it is there, and without it when it is not.
#pragma once

#include <string>
#include <vector>

namespace keo::bench {

constexpr int kPhotoWidth = 1920;
constexpr int kPhotoHeight = 1080;

// Where the photograph is looked for.
std::string photoPath();

// The photograph as ARGB32 (alpha 255), top row first. False, with `picture`
// untouched, when the file is missing or shorter than a whole picture.
bool loadPhoto(std::vector<unsigned char>* picture);

} // namespace keo::bench
