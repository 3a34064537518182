// The stored sound, read with the container and turned into signed integers.
#include "libkeo/StoredSound.h"

#include "container/MovFile.h"
#include "libkeo/Failure.h"
#include "libkeo/PluginSession.h"

#include <algorithm>

namespace keo::lib {
namespace {

// Sample frames read from the file at a time.
constexpr int64_t kPieceFrames = 65536;

// One stored sample of `bytes` bytes, sign-extended.
int32_t sampleAt(const unsigned char* p, int bytes, bool littleEndian) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[littleEndian ? bytes - 1 - i : i];
    const int unused = 32 - bytes * 8;
    return static_cast<int32_t>(v << unused) >> unused;
}

} // namespace

StoredSound::StoredSound(const std::string& path) : path_(path), movie_(new MovFile()) {
    if (!movie_->openRead(path.c_str())) {
        if (movie_->ok)
            movie_->close();
        fail(path, "the movie cannot be read", kExitBadMovie);
    }
    std::string why;
    int status = kExitFailed;
    if (!movie_->hasAudio() || movie_->audioTracks() < 1) {
        why = "has no audio";
        status = kExitBadMovie;
    } else {
        channels_ = movie_->audioTrackNumberOfChannels(0);
        rate_ = static_cast<int>(movie_->audioTrackSampleRate(0));
        bits_ = movie_->audioTrackAudioBits(0);
        frames_ = movie_->audioTrackNumberOfSamples(0);
        // "sowt" is little-endian; the query is named for the host's swap.
        littleEndian_ = movie_->audioBigEndian();
        if (bits_ != 8 && bits_ != 16 && bits_ != 24 && bits_ != 32)
            why = "its sound has " + std::to_string(bits_) + "-bit samples, which keo cannot read";
        else if (channels_ < 1 || channels_ > 64)
            why = "its sound has " + std::to_string(channels_) + " channels";
    }
    if (!why.empty()) {
        // No destructor runs for an object that was never made.
        movie_->close();
        fail(path, why, status);
    }
}

StoredSound::~StoredSound() {
    if (movie_->file)
        movie_->close();
}

void StoredSound::read(int64_t first, int64_t count, int32_t* interleaved) {
    const int width = bits_ / 8;
    const int64_t frameBytes = static_cast<int64_t>(channels_) * width;
    for (int64_t done = 0; done < count;) {
        const int64_t n = std::min(kPieceFrames, count - done);
        bytes_.resize(static_cast<size_t>(n * frameBytes));
        const long long got =
            movie_->readAudio(reinterpret_cast<char*>(bytes_.data()),
                              static_cast<long>(first + done), static_cast<long>(n), 0);
        if (got != n * frameBytes)
            fail(path_, "audio sample frames " + sampleSpan(first + done, n) + ": not in the file",
                 kExitDamaged);
        for (int64_t k = 0; k < n * channels_; ++k)
            interleaved[done * channels_ + k] = sampleAt(&bytes_[k * width], width, littleEndian_);
        done += n;
    }
}

} // namespace keo::lib
