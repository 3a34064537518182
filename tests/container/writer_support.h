// What the writer's tests share: temporary movie paths, an independent
// big-endian view of the bytes a movie was written with, and a small atom
// locator that does not use the container library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/FrameRate.h"

struct MovFile;

namespace writertest {

using Bytes = std::vector<uint8_t>;

// A path for one test's movie; the file is removed with the object.
struct TempMovie {
    std::string path;
    TempMovie();
    ~TempMovie();
    TempMovie(const TempMovie&) = delete;
    TempMovie& operator=(const TempMovie&) = delete;
};

Bytes readFile(const std::string& path);

// Bytes kept in memory behind a stream of the C library's cookie kind, as
// a muxer's stream pushes them downstream: writes land at the position, a
// seek moves it, and nothing shortens what was written. With `watch`, the
// stream is unbuffered (each field one write) and `watch` sees the bytes
// after every write, and after half of a write of more than 8 bytes (a
// write cut short by a kill): the file as a reader would find it had the
// writer been killed right then.
struct MemoryStream {
    Bytes bytes;
    size_t at = 0;
    FILE* stream = nullptr;
    std::function<void(const Bytes&)> watch;

    explicit MemoryStream(std::function<void(const Bytes&)> watcher = nullptr);
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

private:
    void land(const char* buf, size_t n);
};

// `bytes` bytes at `at`, big-endian; 0 past the end of `b`.
uint64_t be(const Bytes& b, size_t at, int bytes);
std::string text(const Bytes& b, size_t at, size_t n);

// One atom of a written file: where its header starts and its full size.
struct Span {
    size_t start = 0;
    size_t size = 0;
    bool found = false;
    size_t end() const { return start + size; }
};

using Fields = std::vector<uint64_t>;

// `n` big-endian fields of `width` bytes, the first `at` bytes into `atom`
// (12 is just past a table's header, version and flags), so a table's count
// and entries are checked in one comparison.
Fields fields(const Bytes& f, const Span& atom, size_t at, int width, size_t n);
// The entries of a co64 table, as many as its count says and its atom holds.
Fields chunkOffsets(const Bytes& f, const Span& co64);

// The atom at `path` from the top of the file, "moov/trak#1/mdia/hdlr":
// "#n" picks the n-th atom of that type (from 0). The entries of an stsd
// are found as its children.
Span find(const Bytes& file, const std::string& path);
// The four-character types of the direct children of `parent`.
std::vector<std::string> childTypes(const Bytes& file, const Span& parent);

// Bytes that differ from frame to frame and position to position.
Bytes pattern(size_t n, uint32_t seed);

// Writes a video-only movie whose frames have `sizes` (frame i holds
// pattern(sizes[i], i)); returns close's result, -1 when a step before failed.
int writeVideoMovie(const std::string& path, const std::vector<size_t>& sizes, keo::FrameRate rate,
                    int width = 64, int height = 48);

// Runs `body` in a child process whose files may not grow past `limit`
// bytes (SIGXFSZ ignored, so writes fail instead); returns its exit code,
// or -1 when it did not exit normally.
int runWithFileSizeLimit(uint64_t limit, const std::function<int()>& body);

// Opens a 32 x 32 ZUVM movie at 25 fps for writing, with a 48 kHz stereo
// 16-bit sound track when asked; false when the writer refuses.
bool openVideo(MovFile& movie, const std::string& path, bool withAudio = false);

// The frames of a written movie as the reader gives them back; empty when
// it has no movie atom or no video.
std::vector<Bytes> readFrames(const std::string& path);

// pattern(sizes[i], i) for every i: the frames writeVideoMovie writes.
std::vector<Bytes> framesOf(const std::vector<size_t>& sizes);

} // namespace writertest
