// A KEO movie read for the Python module: frames, sound and description,
// all of them the importer's answers.
//
// Every answer comes from the importer module loaded through the plug-in
// driver and walked as keo walks it (keo's PluginSession): what a host
// receives, byte for byte, by construction. The reader and codec layers
// could be called directly, but then every check of the importer (refused
// sizes, frame rates, the sound's conversion to floats) would have to be
// repeated here and kept in step; through the driver there is nothing to
// keep in step.
//
// One stand-in host serves all the movies of the process (a host has only
// eight slots, and a notebook may hold hundreds of movies). One importer
// record reads one frame at a time (it keeps a file position and buffers),
// so a movie keeps a small pool of them: a read takes an idle one, or opens
// the file once more when all are busy, up to one per core. Everything
// here is safe to call from several threads at once and runs without
// Python's lock.
//
// After a fork, the importer records a child inherits read through streams
// whose file offsets it shares with the parent and its other children. So a
// read in a process other than the one that opened them gives them back
// unread and opens the file anew, after checking by device and inode that
// it is still the file first opened. (A fork while another thread is inside
// a read is not provided for: that thread does not exist in the child.)
#pragma once

#include "FrameOrder.h"
#include "libkeo/Failure.h"
#include "libkeo/PluginSession.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace keo::python {

// A read of a movie that was closed, in this thread or another.
struct MovieClosed {};

// A frame the plug-in could not deliver: "<file>: frame N: <why>".
struct FrameFailure : keo::lib::Failure {
    int frame;
    FrameFailure(const std::string& file, int index, const std::string& why)
        : Failure(file + ": frame " + std::to_string(index), why, keo::lib::kExitDamaged),
          frame(index) {}
};

class MovieReader {
public:
    // Opens the movie at `path` (the file system's bytes). Throws
    // keo::lib::Failure: with `err` set when the system refused the file
    // (missing, a folder, no permission), else in keo's words (empty, not a
    // KEO movie, damaged).
    explicit MovieReader(const std::string& path);
    ~MovieReader();
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    // Waits for reads in flight, then gives every importer record back.
    void close();
    bool closed();
    const keo::lib::MovieInfo& info() const { return info_; }

    // Frames `indices` (each 0 <= index < frames) into `dests`: frame k of
    // the list into dests[k], width x height pixels of `order`, top row
    // first, rows packed. Two at a time on two of the movie's importer
    // records when a second is idle or can be opened. A frame that fails
    // stops the read and throws FrameFailure for the first failing frame of
    // the list, every frame before it read and its own destination left as
    // it was; frames after it may be read or not. Throws OutOfMemory when
    // memory ran out, MovieClosed after close().
    // `between` (on the calling thread, before each frame it reads) returns
    // false to stop, leaving the frames not read as they were.
    void readFrames(const std::vector<int>& indices, PixelOrder order,
                    const std::vector<uint8_t*>& dests, const std::function<bool()>& between);
    // `count` sample frames from `start` (both checked by the caller against
    // the movie's sound), interleaved. pcmBits 0 writes the host's floats;
    // 8, 16 or 24/32 write the integers stored in the file as int8, int16 or
    // int32 (24-bit ones as they are, from -2^23 to 2^23 - 1).
    // `between` is called before each request to the plug-in, and may throw
    // to stop the read.
    void readAudio(int64_t start, int64_t count, int pcmBits, void* dest,
                   const std::function<void()>& between);
    // `keo info --json` of the movie.
    std::string infoJson();

private:
    struct Lease;
    // A record to read with; without `wait`, null when none is idle and no
    // more may be opened.
    keo::lib::PluginSession* acquire(bool wait);
    void release(keo::lib::PluginSession* session);
    std::unique_ptr<keo::lib::PluginSession> openSession();
    void leaveInheritedSessions(std::unique_lock<std::mutex>& lock);
    void readHostAudio(int64_t start, int64_t count, float* dest,
                       const std::function<void()>& between);
    void readStoredAudio(int64_t start, int64_t count, int bits, void* dest,
                         const std::function<void()>& between);

    std::string given_; // the path as first given, for messages
    std::string path_;  // as given for the first open, then the kept descriptor's
    int fd_ = -1;       // the file as it was opened
    dev_t device_ = 0;  // and its identity, to know it again after a fork
    ino_t inode_ = 0;
    pid_t owner_ = 0; // the process whose sessions these are
    keo::lib::MovieInfo info_;
    std::mutex mutex_;
    std::condition_variable idleChanged_;
    std::vector<std::unique_ptr<keo::lib::PluginSession>> sessions_;
    std::vector<keo::lib::PluginSession*> idle_;
    size_t opening_ = 0;     // sessions being opened outside the lock
    size_t maxSessions_ = 1; // lowered to what there is when an extra open fails
    bool closed_ = false;
    std::string json_;
};

} // namespace keo::python
