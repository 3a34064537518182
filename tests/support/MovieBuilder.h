// Builds KEO movie files byte by byte for the tests, independently of the
// container library, so the reader is checked against bytes it did not make.
//
// A movie is a list of top-level Atom trees. Each atom's size is filled in
// from its contents when it is serialised, unless a test sets `size` to a
// deliberately wrong value. Leaf bodies take every count as an argument of
// its own, so a table can claim more entries than it holds.
//
// baselineMovie() is the reference movie of the hostile-input cases: a 64-bit
// mdat with two plain DXT1 8x8 frames of 60 bytes, then a moov with one ZUVM
// video track (tkhd 8 x 8, mdhd 600, stts (2, 24), stsc (1, 1, 1),
// stsz [60, 60], co64 [16, 76]). With audio it adds a twos track (2 channels,
// 16 bits, 44100 Hz) in two chunks of 100 sample frames, interleaved with the
// frames: video at 16 and 476, audio at 76 and 536.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace keotest {

using Bytes = std::vector<uint8_t>;

void put8(Bytes& b, uint32_t v);
void put16(Bytes& b, uint32_t v);
void put24(Bytes& b, uint32_t v);
void put32(Bytes& b, uint32_t v);
void put64(Bytes& b, uint64_t v);
void putType(Bytes& b, const char* fourcc);
void putFixed32(Bytes& b, double v); // 16.16
void putFixed16(Bytes& b, double v); // 8.8
void putZeros(Bytes& b, size_t n);
void append(Bytes& b, const Bytes& more);

struct Atom {
    std::string type; // four characters; empty: `data` is raw bytes
    Bytes data;       // contents written before the children
    std::vector<Atom> children;
    bool large = false;           // header with the 64-bit size form
    std::optional<uint64_t> size; // size field to write instead of the true one

    Atom& add(Atom child);
    // Inserts `child` as the first child.
    Atom& prepend(Atom child);
    // Child path below this atom: "trak/mdia/minf/stbl/stsz"; "trak#1" picks
    // the second trak. Null when there is no such atom.
    Atom* find(const std::string& path);
    uint64_t trueSize() const;
    Bytes bytes() const;
};

Atom atom(const char* type, Bytes data = {}, std::vector<Atom> children = {});
Atom raw(Bytes bytes);
// A bare 8-byte atom header, for atoms whose size field must lie or that
// stand in raw bytes with no body of their own.
Bytes atomHeader(uint32_t size, const char* type);

// Leaf bodies (the bytes after the 8-byte header).
Bytes mvhdBody(uint32_t timeScale = 600, uint32_t duration = 0);
Bytes tkhdBody(double width, double height, uint32_t trackId = 1);
Bytes mdhdBody(uint32_t timeScale, uint32_t duration = 0);
Bytes hdlrBody(const char* subtype, const std::string& name);
Bytes vmhdBody();
Bytes smhdBody();
Bytes drefBody(); // one 'alis' self-reference of 12 bytes
Bytes sttsBody(const std::vector<std::pair<uint32_t, uint32_t>>& entries,
               std::optional<uint32_t> count = {});
Bytes stscBody(const std::vector<std::array<uint32_t, 3>>& entries,
               std::optional<uint32_t> count = {});
Bytes stszBody(uint32_t sampleSize, uint32_t count, const std::vector<uint32_t>& sizes);
Bytes co64Body(const std::vector<uint64_t>& offsets, std::optional<uint32_t> count = {});
Bytes stcoBody(const std::vector<uint32_t>& offsets, std::optional<uint32_t> count = {});
Bytes elstBody(const std::vector<std::array<uint32_t, 3>>& entries,
               std::optional<uint32_t> count = {});
// A ctab body: seed, flags, size field, then `present` entries of 8 bytes.
Bytes ctabBody(uint16_t sizeField, int present);

// Sample description entries (an atom whose type is the format).
Atom videoEntry(const char* format, uint16_t width = 8, uint16_t height = 8, uint16_t depth = 24);
Atom soundEntry(const char* format, uint16_t channels, uint16_t bits, uint32_t rate,
                uint16_t version = 0);
Atom stsdAtom(std::vector<Atom> entries, std::optional<uint32_t> count = {});

struct Tables {
    std::vector<std::pair<uint32_t, uint32_t>> stts;
    std::vector<std::array<uint32_t, 3>> stsc;
    uint32_t sampleSize = 0; // not 0: constant size, `sampleCount` samples
    uint32_t sampleCount = 0;
    std::vector<uint32_t> sizes;
    std::vector<uint64_t> offsets;
    bool use64 = true; // co64, else stco
};

struct VideoTrack {
    std::string format = "ZUVM";
    double width = 8, height = 8;
    uint32_t timeScale = 600;
    Tables tables;
};

struct SoundTrack {
    std::string format = "twos";
    uint16_t channels = 2, bits = 16;
    uint32_t rate = 44100;
    uint16_t version = 0;
    Tables tables;
};

Atom stblAtom(Atom stsd, const Tables& t);
Atom videoTrak(const VideoTrack& v, uint32_t trackId = 1);
Atom soundTrak(const SoundTrack& s, uint32_t trackId = 2);

struct Movie {
    std::vector<Atom> top; // file order
    Atom& mdat();
    Atom& moov();
    // Path from the moov: "trak/mdia/minf/stbl/stsz".
    Atom* find(const std::string& path) { return moov().find(path); }
    Bytes bytes() const;
    // Puts moov in front of mdat and moves every chunk offset along.
    void moveMoovFirst();
};

// One plain DXT1 8x8 frame payload of 60 bytes (28-byte header + 4 blocks);
// `seed` varies the block colours.
Bytes dxt1Frame(uint8_t seed);
// Value of channel `channel` of sample frame `sample` in the baseline audio.
int16_t audioValue(int sample, int channel);
// `frames` big-endian stereo 16-bit sample frames starting at `firstSample`.
Bytes audioChunk(int firstSample, int frames);

Movie baselineMovie(bool withAudio = false);

// Time-to-sample entries (count, duration) of `frames` frames at rateNum /
// rateDen frames a second, as a writer that rounds each frame's time to a
// clock of `timeScale` units stores them: frame i lasts round((i + 1) x u)
// - round(i x u) units, u = timeScale x rateDen / rateNum, halves up; runs
// of equal durations share an entry.
std::vector<std::pair<uint32_t, uint32_t>> roundedDurations(uint64_t rateNum, uint64_t rateDen,
                                                            uint32_t timeScale, uint32_t frames);
// A movie of one video track of DXT1 8x8 frames, one chunk each, as many as
// the entries count, timed by them in units of `timeScale`.
Movie timedMovie(uint32_t timeScale, const std::vector<std::pair<uint32_t, uint32_t>>& stts);

// Adds `delta` to every entry of every stco and co64 below `a`.
void shiftChunkOffsets(Atom& a, int64_t delta);

// A file holding `bytes`, removed when the object goes.
struct TempFile {
    std::string path;
    explicit TempFile(const Bytes& bytes);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
};

} // namespace keotest
