// Sound by its timestamps: where each block of sample frames goes, and a
// spool that keeps it there in an unnamed temporary file until it is asked
// for.
//
// keo export --input keeps a decoded movie's sound until the exporter asks
// for it after the last frame, and keomux keeps a recording's sound until
// the last frame is in; keeping it in memory would grow with the movie. Both
// place every block by one rule (SoundTimeline): counted from the first
// block's time, a block goes where its timestamp says. A gap of more than
// kSoundSlackNs before it is silence (in the spool, a hole in the file that
// reads back as zeros); a block that overlaps what is placed by more than
// that loses its overlap. Closer than kSoundSlackNs a block follows on, as
// timestamps are rounded. A block without a time follows on.
//
// The spool holds sample frames of any one size (interleaved floats for
// keo export, the stored integers for keomux) and gives them back against
// a movie's time 0: sound that starts later is preceded by silence, sound
// that starts earlier loses its lead. One thread puts, then reads.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/TempFile.h"

namespace keo {

constexpr int64_t kSoundSecondNs = 1000000000;
constexpr int64_t kSoundSlackNs = 40000000;

// ns as sample frames at `rate`, rounded to nearest; exact in a double for
// any time a movie reaches (hours at 96 kHz).
inline int64_t soundFramesIn(int64_t ns, int rate) {
    return static_cast<int64_t>(std::llround(static_cast<double>(ns) * rate / kSoundSecondNs));
}

// What the rule did with one block.
struct SoundPlacement {
    int64_t at = 0;      // the sample frame of the timeline its first kept frame goes to
    int64_t skip = 0;    // frames dropped from its start, overlapping what was placed
    int64_t silence = 0; // frames of silence left in front of it for a gap
    // A gap or an overlap beyond the slack, worth telling the user of.
    bool strayed() const { return silence > 0 || skip > 0; }
};

struct SoundTimeline {
    int rate = 0;
    int64_t startNs = -1; // the first block's time; -1 before the first block
    int64_t end = 0;      // sample frames from the start to the end of what is placed

    SoundPlacement place(int64_t timeNs, int64_t frames) {
        if (startNs < 0)
            startNs = timeNs < 0 ? 0 : timeNs;
        SoundPlacement p;
        p.at = end;
        if (timeNs >= 0) {
            const int64_t due = soundFramesIn(timeNs - startNs, rate);
            const int64_t slack = soundFramesIn(kSoundSlackNs, rate);
            if (due > end + slack) {
                p.silence = due - end;
                p.at = due;
            } else if (due < end - slack) {
                p.skip = std::min(frames, end - due);
            }
        }
        if (frames > p.skip)
            end = p.at + frames - p.skip;
        return p;
    }
    int64_t endNs() const { return startNs < 0 ? -1 : startNs + end * kSoundSecondNs / rate; }
};

class SoundSpool {
public:
    SoundSpool() = default;
    ~SoundSpool() {
        if (fd_ >= 0)
            close(fd_);
    }
    SoundSpool(const SoundSpool&) = delete;
    SoundSpool& operator=(const SoundSpool&) = delete;

    // Makes the file for sample frames of `frameBytes` bytes at `rate` Hz:
    // 0, or the system's error number when no file can be made.
    int open(int frameBytes, int rate) {
        frameBytes_ = frameBytes;
        timeline_ = SoundTimeline{rate, -1, 0};
        fd_ = openUnnamedTemporary();
        return fd_ < 0 ? errno : 0;
    }

    // Places `frames` sample frames from `timeNs` (negative: unknown) and
    // keeps them there; error() says whether they were kept.
    SoundPlacement put(int64_t timeNs, const void* data, int64_t frames) {
        const SoundPlacement p = timeline_.place(timeNs, frames);
        if (frames > p.skip)
            write(p.at, static_cast<const unsigned char*>(data) + p.skip * frameBytes_,
                  frames - p.skip);
        return p;
    }
    // The rule alone, for a caller that converts its frames on the way in
    // and then writes them at the place given, in pieces.
    SoundPlacement place(int64_t timeNs, int64_t frames) { return timeline_.place(timeNs, frames); }
    bool write(int64_t at, const void* data, int64_t frames) {
        const size_t bytes = static_cast<size_t>(frames) * frameBytes_;
        const off_t offset = static_cast<off_t>(at * frameBytes_);
        const char* from = static_cast<const char*>(data);
        for (size_t done = 0; done < bytes && error_ == 0;) {
            const ssize_t n =
                pwrite(fd_, from + done, bytes - done, offset + static_cast<off_t>(done));
            if (n <= 0)
                error_ = n < 0 ? errno : ENOSPC;
            else
                done += static_cast<size_t>(n);
        }
        return error_ == 0;
    }

    // `count` frames of a movie whose time 0 is `zeroNs`, from its frame
    // `first`, interleaved into `out` (count x frameBytes): zeros where
    // nothing is kept. False when the file cannot be read back.
    bool read(int64_t zeroNs, int64_t first, int64_t count, void* out) const {
        unsigned char* to = static_cast<unsigned char*>(out);
        std::memset(to, 0, static_cast<size_t>(count) * frameBytes_);
        if (timeline_.startNs < 0)
            return true;
        // Where the movie's frame `first` lies in what is kept.
        const int64_t lead = soundFramesIn(timeline_.startNs - zeroNs, timeline_.rate);
        const int64_t from = std::max<int64_t>(first - lead, 0);
        const int64_t upTo = std::min<int64_t>(first - lead + count, timeline_.end);
        if (from >= upTo)
            return true;
        unsigned char* into = to + (from - (first - lead)) * frameBytes_;
        const size_t bytes = static_cast<size_t>(upTo - from) * frameBytes_;
        const off_t offset = static_cast<off_t>(from * frameBytes_);
        for (size_t done = 0; done < bytes;) {
            const ssize_t n =
                pread(fd_, into + done, bytes - done, offset + static_cast<off_t>(done));
            if (n < 0)
                return false;
            if (n == 0)
                break; // a hole at the end of the file: silence
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // The system's error number of a write that failed, 0 while none has.
    int error() const { return error_; }
    // When the first block started and the kept sound ends, in ns; -1
    // before anything was put.
    int64_t startNs() const { return timeline_.startNs; }
    int64_t endNs() const { return timeline_.endNs(); }

private:
    int fd_ = -1;
    int frameBytes_ = 0;
    SoundTimeline timeline_;
    int error_ = 0;
};

} // namespace keo
