// Surveying a movie file with the container and the frame headers.
#include "libkeo/MovieSurvey.h"

#include "codec/FramePayload.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "libkeo/AtomicOutput.h"
#include "libkeo/Failure.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace keo::lib {
namespace {

// A QuickTime file begins with an atom: a 32-bit size (0, 1 or at least 8)
// and four printable characters.
bool beginsWithAtom(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char b[8];
    bool whole = pread(fd, b, sizeof b, 0) == static_cast<ssize_t>(sizeof b);
    close(fd);
    if (!whole)
        return false;
    uint32_t size = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    if (size != 0 && size != 1 && size < 8)
        return false;
    for (int i = 4; i < 8; ++i)
        if (!std::isprint(b[i]))
            return false;
    return true;
}

// The movie as the container reads it, closed on every way out.
struct OpenedMovie {
    MovFile movie;
    bool open = false;
    explicit OpenedMovie(const std::string& path) {
        open = movie.openRead(path.c_str(), kKEOFrameHeaderSize) != nullptr;
        if (!open && movie.ok)
            movie.close();
    }
    ~OpenedMovie() {
        if (open)
            movie.close();
    }
};

struct FreeMemory {
    void operator()(void* p) const { std::free(p); }
};
using Memory = std::unique_ptr<unsigned char, FreeMemory>;

// The frame's bytes decoded here; every buffer the decode needs is taken
// first, so that a decode that fails can only be the sample's fault.
bool decodesHere(const std::string& path, int frame, int width, int height) {
    OpenedMovie opened(path);
    MovFile& movie = opened.movie;
    if (!opened.open || frame < 0 || frame >= movie.nFrames())
        return false;
    const int size = movie.frameSize(frame);
    const long long offset = movie.frameOffset(frame);
    if (size <= kKEOFrameHeaderSize || offset < 0 || size > movie.fileLength())
        return false;
    Memory sample(static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size))));
    if (!sample)
        throw std::bad_alloc();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool whole =
        fd >= 0 && pread(fd, sample.get(), static_cast<size_t>(size), offset) == size;
    if (fd >= 0)
        close(fd);
    if (!whole)
        return false;
    KEOFrameHeader header;
    header.read(sample.get());
    uint64_t blockBytes = 0;
    if (!KEOFrameHeaderAcceptable(header) || !KEOPictureFits(width, height) ||
        !KEOBlockDataSize(width, height, header.isDXT24 == 1, header.hasAlpha != 0, &blockBytes))
        return false;
    keo::ByteBuffer scratch;
    if (!keo::reserve(scratch, static_cast<size_t>(blockBytes)))
        throw std::bad_alloc();
    Memory blocks(scratch.bytes);
    const size_t pitch = static_cast<size_t>(width) * 4;
    Memory picture(static_cast<unsigned char*>(std::malloc(pitch * height)));
    if (!picture)
        throw std::bad_alloc();
    return DecodeFramePayloadInto(sample.get(), static_cast<unsigned int>(size), width, height,
                                  picture.get(), static_cast<long long>(pitch), false,
                                  &scratch) == kKEODecodeOK;
}

// The sound's stored bytes read here, into memory taken first.
bool readsHere(const std::string& path, int64_t first, int64_t count) {
    OpenedMovie opened(path);
    MovFile& movie = opened.movie;
    if (!opened.open || !movie.hasAudio() || first < 0 || count < 1)
        return false;
    const int64_t frameBytes = static_cast<int64_t>(movie.audioTrackNumberOfChannels(0)) *
                               movie.audioTrackAudioBits(0) / 8;
    if (frameBytes < 1 || count > movie.fileLength() / frameBytes)
        return false;
    Memory samples(
        static_cast<unsigned char*>(std::malloc(static_cast<size_t>(frameBytes * count))));
    if (!samples)
        throw std::bad_alloc();
    return movie.readAudio(reinterpret_cast<char*>(samples.get()), static_cast<long>(first),
                           static_cast<long>(count), 0) == frameBytes * count;
}

} // namespace

bool frameFailedForMemory(const std::string& path, int frame, int width, int height) {
    try {
        return decodesHere(path, frame, width, height);
    } catch (const std::bad_alloc&) {
        return true;
    }
}

bool audioFailedForMemory(const std::string& path, int64_t first, int64_t count) {
    try {
        return readsHere(path, first, count);
    } catch (const std::bad_alloc&) {
        return true;
    }
}

bool surveyMovie(const std::string& path, MovieSurvey* survey) {
    *survey = MovieSurvey();
    MovFile movie;
    if (!movie.openRead(path.c_str(), kKEOFrameHeaderSize)) {
        // As the importer does: a file refused for its structure still has
        // what was read to release; one refused for its codec has not.
        if (movie.ok)
            movie.close();
        return false;
    }
    survey->videoFormat = movie.frameType();
    survey->audioFormat = movie.hasAudio() ? movie.audioType() : "";
    survey->edits = readEdits(movie);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0)
        survey->fileBytes = st.st_size;
    const int n = movie.nFrames();
    for (int i = 0; i < n; ++i) {
        const int size = movie.frameSize(i);
        const long long offset = movie.frameOffset(i);
        survey->videoBytes += size;
        unsigned char bytes[kKEOFrameHeaderSize];
        if (fd < 0 || size < kKEOFrameHeaderSize || offset < 0 ||
            pread(fd, bytes, sizeof bytes, offset) != static_cast<ssize_t>(sizeof bytes)) {
            survey->unreadable++;
            continue;
        }
        KEOFrameHeader h;
        h.read(bytes);
        // A header the decoder refuses says nothing about a layout.
        if (!KEOFrameHeaderAcceptable(h)) {
            survey->unreadable++;
            continue;
        }
        survey->frames[KEOLayoutOfFlags(h.isDXT24, h.hasAlpha)][h.isLZF ? 1 : 0]++;
    }
    if (fd >= 0)
        close(fd);
    movie.close();
    return true;
}

void checkMovieReadable(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        fail(path, std::strerror(errno), kExitBadMovie);
    if (S_ISDIR(st.st_mode))
        fail(path, std::strerror(EISDIR), kExitBadMovie);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        fail(path, std::strerror(errno), kExitBadMovie);
    close(fd);
    if (!S_ISREG(st.st_mode))
        fail(path, "is not a regular file; a movie is read from a file", kExitBadMovie);
    if (st.st_size == 0)
        fail(path, "is empty (0 bytes), not a movie", kExitBadMovie);
}

std::string refusalReason(const std::string& path) {
    if (!beginsWithAtom(path))
        return "not a KEO movie: the file is not a QuickTime movie";
    MovFile movie;
    if (!movie.openRead(path.c_str(), kKEOFrameHeaderSize)) {
        if (!movie.ok)
            return "not a KEO movie: a QuickTime movie whose video is in another format";
        if (movie.movieAtomTooLarge)
            return "its movie header ('moov' atom) is larger than " +
                   std::to_string(kMaxMovieAtomBytes >> 20) +
                   " MiB, more than a 10-hour movie at 120 fps needs; it is not read, to keep "
                   "memory bounded";
        movie.close();
        return "not a KEO movie: its movie structure is damaged or missing";
    }
    std::string why;
    int scale = 0, duration = 0;
    movie.frameRate(scale, duration);
    if (movie.nFrames() < 1 && !movie.file->hasMovieAtom)
        why = "the movie header ('moov' atom) is missing; the file may be cut short (a movie's "
              "header is written last, after its media data)";
    else if (movie.nFrames() < 1)
        why = movie.hasAudio() ? "the movie has sound but no video frames"
                               : "the movie has no video frames";
    else if (scale <= 0 || duration <= 0)
        why = "the movie's video has no usable frame rate";
    else
        why = "the plug-in cannot describe the movie (frame rate " + std::to_string(scale) + "/" +
              std::to_string(duration) + ", " + std::to_string(movie.nFrames()) + " frames)";
    movie.close();
    return why;
}

} // namespace keo::lib
