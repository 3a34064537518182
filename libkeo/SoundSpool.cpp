// The sound spool: frames at their timestamps' places in an unnamed file.
#include "libkeo/SoundSpool.h"

#include "base/TempFile.h"
#include "libkeo/Failure.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace keo::lib {
namespace {

constexpr int64_t kSecond = 1000000000;
constexpr int64_t kSlackNs = 40000000;

// ns as sample frames at `rate`, rounded to nearest; the product stays in
// 64 bits for any time a movie reaches (hours at 96 kHz).
int64_t framesIn(int64_t ns, int rate) {
    const double f = static_cast<double>(ns) * rate / kSecond;
    return static_cast<int64_t>(std::llround(f));
}

} // namespace

SoundSpool::SoundSpool(int channels, int rate) : channels_(channels), rate_(rate) {
    fd_ = keo::openUnnamedTemporary();
    if (fd_ < 0)
        fail("the sound's temporary file", std::strerror(errno));
}

SoundSpool::~SoundSpool() {
    if (fd_ >= 0)
        close(fd_);
}

int64_t SoundSpool::endNs() const {
    return start_ < 0 ? -1 : start_ + frames_ * kSecond / rate_;
}

void SoundSpool::put(int64_t timeNs, const float* samples, int64_t frames) {
    if (start_ < 0)
        start_ = timeNs < 0 ? 0 : timeNs;
    int64_t at = frames_;
    if (timeNs >= 0) {
        const int64_t due = framesIn(timeNs - start_, rate_);
        const int64_t slack = framesIn(kSlackNs, rate_);
        if (due > at + slack) {
            at = due;
        } else if (due < at - slack) {
            const int64_t overlap = std::min(frames, at - due);
            samples += overlap * channels_;
            frames -= overlap;
        }
    }
    if (frames <= 0)
        return;
    const size_t frameBytes = static_cast<size_t>(channels_) * sizeof(float);
    const size_t bytes = static_cast<size_t>(frames) * frameBytes;
    const char* from = reinterpret_cast<const char*>(samples);
    for (size_t done = 0; done < bytes && error_ == 0;) {
        const ssize_t n = pwrite(fd_, from + done, bytes - done,
                                 static_cast<off_t>(at * static_cast<int64_t>(frameBytes) + done));
        if (n <= 0)
            error_ = n < 0 ? errno : ENOSPC;
        else
            done += static_cast<size_t>(n);
    }
    frames_ = at + frames;
}

bool SoundSpool::read(int64_t zeroNs, int64_t first, uint32_t count, uint32_t channels,
                      float** planar) const {
    for (uint32_t c = 0; c < channels; ++c)
        std::fill(planar[c], planar[c] + count, 0.0f);
    if (start_ < 0)
        return true;
    // Where the movie's sample `first` lies in what is kept.
    const int64_t lead = framesIn(start_ - zeroNs, rate_);
    const int64_t from = std::max<int64_t>(first - lead, 0);
    const int64_t to = std::min<int64_t>(first - lead + count, frames_);
    if (from >= to)
        return true;
    std::vector<float> block(static_cast<size_t>(to - from) * channels_);
    const size_t bytes = block.size() * sizeof(float);
    const off_t at = static_cast<off_t>(from * channels_ * static_cast<int64_t>(sizeof(float)));
    for (size_t done = 0; done < bytes;) {
        const ssize_t n = pread(fd_, reinterpret_cast<char*>(block.data()) + done, bytes - done,
                                at + static_cast<off_t>(done));
        if (n < 0)
            return false;
        if (n == 0)
            break; // a hole at the end of the file: silence
        done += static_cast<size_t>(n);
    }
    const int64_t into = from - (first - lead);
    const uint32_t kept = std::min(channels, static_cast<uint32_t>(channels_));
    for (int64_t i = 0; i < to - from; ++i)
        for (uint32_t c = 0; c < kept; ++c)
            planar[c][into + i] = block[static_cast<size_t>(i) * channels_ + c];
    return true;
}

} // namespace keo::lib
