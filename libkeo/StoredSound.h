// A movie's sound as it is stored: the integers of every width, read with
// the container beside the plug-in (as MovieSurvey reads the frames'
// headers), not through the host's float sound path, on which a 32-bit
// sample keeps only 24 of its bits.
//
// keo audio --pcm and the Python module's audio(pcm=True) give the stored
// samples through here, so the two always agree with each other and with
// other readers of the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct MovFile;

namespace keo::lib {

class StoredSound {
public:
    // Opens the movie's first sound track; throws Failure (kExitBadMovie)
    // when the container cannot read the file as a movie or it has no
    // sound, and (kExitFailed) for a sample width the reader cannot take.
    explicit StoredSound(const std::string& path);
    ~StoredSound();
    StoredSound(const StoredSound&) = delete;
    StoredSound& operator=(const StoredSound&) = delete;

    int channels() const { return channels_; }
    int rate() const { return rate_; }
    int bits() const { return bits_; } // 8, 16, 24 or 32
    int64_t frames() const { return frames_; }

    // `count` sample frames from `first` (both within frames()), interleaved,
    // each the stored integer with its sign: 8-bit samples from -128 to 127,
    // 24-bit ones from -2^23 to 2^23 - 1. Throws Failure (kExitDamaged)
    // naming the sample frames the file does not hold.
    void read(int64_t first, int64_t count, int32_t* interleaved);

private:
    std::string path_;
    std::unique_ptr<MovFile> movie_;
    int channels_ = 0;
    int rate_ = 0;
    int bits_ = 0;
    int64_t frames_ = 0;
    bool littleEndian_ = true;
    std::vector<unsigned char> bytes_; // one piece as stored
};

} // namespace keo::lib
