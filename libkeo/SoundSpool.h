// Sound kept in an unnamed file in $TMPDIR until an export asks for it.
//
// A decoded movie gives its sound while its frames are being exported, and
// the exporter asks for the sound only after the last frame; keeping it in
// memory would grow with the movie. Each block goes where its timestamp
// says, counted from the first block: a gap of more than 40 ms is left as a
// hole in the file, which reads back as silence, and a block that overlaps
// what is kept by more than that loses its overlap. Closer than 40 ms, a
// block is taken to follow on (timestamps are rounded).
//
// Samples are interleaved 32-bit floats. One thread puts, then reads.
#pragma once

#include <cstdint>

namespace keo::lib {

class SoundSpool {
public:
    // Throws Failure when no temporary file can be made.
    SoundSpool(int channels, int rate);
    ~SoundSpool();
    SoundSpool(const SoundSpool&) = delete;
    SoundSpool& operator=(const SoundSpool&) = delete;

    // `frames` sample frames starting at `timeNs` (negative: unknown, then
    // they follow what is kept).
    void put(int64_t timeNs, const float* samples, int64_t frames);
    // The system's error number of a write that failed, 0 while none has.
    int error() const { return error_; }
    // When the first block started and the kept sound ends, in ns; -1
    // before anything was put.
    int64_t startNs() const { return start_; }
    int64_t endNs() const;

    // `count` frames of a movie whose time 0 is `zeroNs`, from its sample
    // `first`, into `channels` planar arrays: silence where nothing is kept.
    // False when the file cannot be read back.
    bool read(int64_t zeroNs, int64_t first, uint32_t count, uint32_t channels,
              float** planar) const;

private:
    int fd_ = -1;
    int channels_;
    int rate_;
    int64_t start_ = -1;
    int64_t frames_ = 0; // frames from the start to the end of what is kept
    int error_ = 0;
};

} // namespace keo::lib
