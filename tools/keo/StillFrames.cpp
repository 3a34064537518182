// Still files decoded on the pipeline's workers, taken back in order.
#include "StillFrames.h"

#include "Stills.h"
#include "libkeo/Failure.h"

#include <algorithm>

namespace keo::tool {
using namespace keo::lib;

namespace {

// Frames in flight with `workers` decoding: one being decoded on each, and
// one decoded and waiting, so that a worker is never idle while the export
// holds a frame.
int slotsFor(int workers) {
    return workers > 0 ? workers + 1 : 1;
}

std::string sizeText(int w, int h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

} // namespace

StillFrames::StillFrames(const std::vector<std::string>& files, int workers)
    : files_(files), ahead_(workers > 0), slots_(slotsFor(workers)), window_(slots_),
      sizes_(files.size()),
      pipeline_(
          [this](int64_t index, const uint8_t*, std::vector<uint8_t>* pixels) {
              // The memory of a frame the export is done with, used again.
              RgbaPicture pic;
              pic.rgba.swap(*pixels);
              readStill(files_[static_cast<size_t>(index)], &pic);
              sizes_[static_cast<size_t>(index)] = {pic.width, pic.height};
              pixels->swap(pic.rgba);
          },
          [this](int64_t, std::vector<uint8_t>& pixels) {
              // The frame lent before goes back to the slot, for a decode.
              lent_.swap(pixels);
              ++taken_;
          },
          0, ahead_ ? workers : 0, slots_) {
    submitUpTo(0);
    take(0);
    width_ = sizes_[0].first;
    height_ = sizes_[0].second;
    // Fewer in flight from here on where that many pictures of this size
    // would take more memory than the pipeline allows itself.
    if (ahead_)
        window_ = std::max(1, std::min(slots_, FramePipeline::slotsFor(lent_.size(), workers) - 1));
}

void StillFrames::submitUpTo(int64_t index) {
    const int64_t count = static_cast<int64_t>(files_.size());
    while (submitted_ < count && submitted_ - taken_ < window_ && (ahead_ || submitted_ <= index)) {
        pipeline_.nextBuffer();
        pipeline_.submit(submitted_++);
    }
}

void StillFrames::take(int64_t index) {
    if (!pipeline_.takeNext())
        fail("stills", "no picture to take for frame " + std::to_string(index));
    const std::pair<int, int> size = sizes_[static_cast<size_t>(index)];
    if (index > 0 && (size.first != width_ || size.second != height_))
        fail(files_[static_cast<size_t>(index)],
             "is " + sizeText(size.first, size.second) + ", but the pictures before it are " +
                 sizeText(width_, height_) + "; every picture of a movie has one size");
}

const uint8_t* StillFrames::lend(int64_t index, size_t* pitch) {
    if (index >= static_cast<int64_t>(files_.size()))
        return nullptr;
    *pitch = static_cast<size_t>(width_) * 4;
    // Frame 0 was taken when the size was learnt.
    if (index > 0) {
        submitUpTo(index);
        take(index);
    }
    return lent_.data();
}

} // namespace keo::tool
