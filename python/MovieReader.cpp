// Reading a movie through the importer module, over one shared stand-in host.
#include "MovieReader.h"

#include "PluginDriver.h"
#include "libkeo/Failure.h"
#include "libkeo/InfoFacts.h"
#include "libkeo/PluginResults.h"
#include "libkeo/SideBySideFrames.h"
#include "libkeo/StoredSound.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace keo::python {
namespace {

using keo::lib::fail;
using keo::lib::Failure;
using keo::lib::PluginSession;

// The module entry and the host that every movie of the process joins.
// Made on the first open and never taken down: a movie closed by the
// garbage collector at exit may still call into them.
struct SharedHost {
    std::mutex mutex;
    std::string modulePath;
    ImportEntryFunc entry = nullptr;
    keo::host::StandInHost* host = nullptr;
};

SharedHost& sharedHost() {
    static SharedHost* shared = new SharedHost;
    return *shared;
}

std::string extensionFolder() {
    Dl_info self;
    if (dladdr(reinterpret_cast<void*>(&extensionFolder), &self) == 0 || !self.dli_fname)
        return ".";
    std::string path = self.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// $KEO_PLUGIN, as for keo; else the module shipped beside this one in the
// keo package (installed), else the build tree's (build/python/keo/../../lib/).
std::string locateModule() {
    const char* env = std::getenv("KEO_PLUGIN");
    if (env && *env)
        return env;
    const std::string folder = extensionFolder();
    const std::string beside = folder + "/KEOImporter.so";
    const std::string built = folder + "/../../lib/KEOImporter.so";
    return exists(beside) || !exists(built) ? beside : built;
}

void joinSharedHost(PluginSession& s) {
    SharedHost& shared = sharedHost();
    std::lock_guard<std::mutex> hold(shared.mutex);
    if (!shared.entry) {
        const std::string path = locateModule();
        std::string why;
        shared.entry = keo::host::keptEntry(path, &why);
        if (!shared.entry)
            fail(path, "cannot load the KEO importer module (" + why +
                           "); build it with `make`, or name it in $KEO_PLUGIN");
        shared.modulePath = path;
    }
    if (!shared.host)
        shared.host = keo::host::createHost();
    if (!shared.host)
        fail("host", "cannot create the stand-in host");
    joinSession(s, shared.modulePath, shared.entry, shared.host);
}

// Opens the file for keeping, after what the system says of it, with its
// errno, so that Python raises the OSError that fits; keo's own checks (an
// empty file, a FIFO) and the plug-in's refusal follow in openMovie.
int openReadable(const std::string& path) {
    struct stat st;
    int err = 0;
    int fd = -1;
    if (stat(path.c_str(), &st) != 0) {
        err = errno;
    } else if (S_ISDIR(st.st_mode)) {
        err = EISDIR;
    } else {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            err = errno;
    }
    if (err != 0) {
        Failure failure(path, std::strerror(err), keo::lib::kExitBadMovie);
        failure.err = err;
        throw failure;
    }
    return fd;
}

bool sameMovie(const keo::lib::MovieInfo& a, const keo::lib::MovieInfo& b) {
    return a.width == b.width && a.height == b.height && a.frames == b.frames &&
           a.scale == b.scale && a.sampleSize == b.sampleSize && a.hasAudio == b.hasAudio &&
           a.channels == b.channels && a.audioFrames == b.audioFrames;
}

} // namespace

struct MovieReader::Lease {
    // kIfIdle: a lease of nothing when every record is busy and no more may
    // be opened; kNone: a lease of nothing.
    enum Kind { kWait, kIfIdle, kNone };
    MovieReader& movie;
    PluginSession* session;
    explicit Lease(MovieReader& m, Kind kind = kWait)
        : movie(m), session(kind == kNone ? nullptr : m.acquire(kind == kWait)) {}
    ~Lease() {
        if (session)
            movie.release(session);
    }
};

MovieReader::MovieReader(const std::string& path) : given_(path), path_(path) {
    fd_ = openReadable(path);
    struct stat st;
    if (fstat(fd_, &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    owner_ = getpid();
    std::unique_ptr<PluginSession> first;
    try {
        first = openSession();
    } catch (...) {
        ::close(fd_);
        throw;
    }
    info_ = first->info;
    // Later opens (a second reader, the survey) go through the descriptor,
    // so they read this file even after a new one has replaced it under
    // its name, or the process has changed its folder.
    if (access("/proc/self/fd", X_OK) == 0)
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    idle_.push_back(first.get());
    sessions_.push_back(std::move(first));
    maxSessions_ = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

MovieReader::~MovieReader() {
    close();
}

std::unique_ptr<PluginSession> MovieReader::openSession() {
    auto session = std::make_unique<PluginSession>();
    joinSharedHost(*session);
    keo::lib::openMovie(*session, path_);
    return session;
}

PluginSession* MovieReader::acquire(bool wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (closed_)
            throw MovieClosed();
        if (getpid() != owner_)
            leaveInheritedSessions(lock);
        if (!idle_.empty()) {
            PluginSession* s = idle_.back();
            idle_.pop_back();
            return s;
        }
        if (sessions_.size() + opening_ < maxSessions_) {
            ++opening_;
            lock.unlock();
            std::unique_ptr<PluginSession> extra;
            try {
                extra = openSession();
            } catch (const Failure&) {
                // Out of descriptors, or the file went away: the sessions
                // there are will do.
            }
            lock.lock();
            --opening_;
            if (extra && !closed_ && sameMovie(extra->info, info_)) {
                sessions_.push_back(std::move(extra));
                return sessions_.back().get();
            }
            // A file that changed since it was opened is not read through
            // a second description of it.
            maxSessions_ = sessions_.size();
            idleChanged_.notify_all();
            if (extra) {
                lock.unlock();
                extra.reset();
                lock.lock();
            }
            continue;
        }
        if (!wait)
            return nullptr;
        idleChanged_.wait(lock);
    }
}

// The inherited sessions are closed in this process only (a stream's close
// moves no file offset), and this process opens its own as it reads.
void MovieReader::leaveInheritedSessions(std::unique_lock<std::mutex>& lock) {
    std::vector<std::unique_ptr<PluginSession>> inherited;
    inherited.swap(sessions_);
    idle_.clear();
    opening_ = 0;
    lock.unlock();
    inherited.clear();
    struct stat st;
    const bool same = stat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
    lock.lock();
    // Nothing is read from another file under this movie's name: every read
    // of this process fails here until it opens the movie again.
    if (!same)
        fail(given_, "the file is no longer the one that was opened; open it again");
    owner_ = getpid();
    maxSessions_ = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

void MovieReader::release(PluginSession* session) {
    std::lock_guard<std::mutex> hold(mutex_);
    idle_.push_back(session);
    idleChanged_.notify_all();
}

void MovieReader::close() {
    std::vector<std::unique_ptr<PluginSession>> gone;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        closed_ = true;
        idleChanged_.wait(lock,
                          [this] { return idle_.size() == sessions_.size() && opening_ == 0; });
        gone.swap(sessions_);
        idle_.clear();
    }
    // Each session gives its importer record back as it goes.
    gone.clear();
    std::lock_guard<std::mutex> hold(mutex_);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool MovieReader::closed() {
    std::lock_guard<std::mutex> hold(mutex_);
    return closed_;
}

void MovieReader::readFrames(const std::vector<int>& indices, PixelOrder order,
                             const std::vector<uint8_t*>& dests,
                             const std::function<bool()>& between) {
    Lease lease(*this);
    // A second record only for a second frame, and only one to be had now.
    Lease second(*this, indices.size() > 1 ? Lease::kIfIdle : Lease::kNone);
    // Converted from the host's frames where they lie, uncopied. A frame that fails stops the read;
    // the failure reported is the first in the list's order, every frame before it being read by
    // then (the threads take frames in that order and finish the ones they hold).
    struct Stop {};
    std::mutex failedLock;
    size_t firstFailed = indices.size();
    int failedResult = 0;
    auto use = [&](size_t k, int result, const keo::lib::FrameRows* rows) {
        if (result == 0) {
            keo::lib::copyFrameRows(*rows, info_.width, info_.height, order, dests[k]);
            return;
        }
        std::lock_guard<std::mutex> hold(failedLock);
        if (k < firstFailed) {
            firstFailed = k;
            failedResult = result;
        }
        throw Stop();
    };
    try {
        keo::lib::fetchFramesSideBySide(*lease.session, second.session, indices, false, use,
                                        between);
    } catch (const Stop&) {
    } catch (const keo::lib::OutOfMemory& e) {
        throw keo::lib::OutOfMemory(given_ + ": " + e.subject);
    }
    if (firstFailed < indices.size())
        throw FrameFailure(given_, indices[firstFailed], keo::lib::resultWords(failedResult));
}

void MovieReader::readHostAudio(int64_t start, int64_t count, float* dest,
                                const std::function<void()>& between) {
    Lease lease(*this);
    constexpr uint32_t kBlock = 48000;
    const uint32_t channels = static_cast<uint32_t>(info_.channels);
    std::vector<std::vector<float>> planes(channels, std::vector<float>(kBlock));
    std::vector<float*> planar;
    for (auto& plane : planes)
        planar.push_back(plane.data());
    int64_t done = 0;
    while (done < count) {
        const uint32_t want = static_cast<uint32_t>(std::min<int64_t>(kBlock, count - done));
        // The first request names its position and the rest continue, as
        // keo audio (and a playing host) asks.
        int64_t delivered = 0;
        between();
        int r = 0;
        try {
            r = keo::lib::fetchAudio(*lease.session, done == 0 ? start : -1, want, planar.data(),
                                     &delivered);
        } catch (const keo::lib::OutOfMemory&) {
            throw keo::lib::OutOfMemory(given_ + ": audio sample frames " +
                                        keo::lib::sampleSpan(start + done, want));
        }
        if (r != 0)
            fail(given_ + ": audio sample frames " + keo::lib::sampleSpan(start + done, want),
                 keo::lib::resultWords(r), keo::lib::kExitDamaged);
        if (delivered <= 0)
            fail(given_ + ": audio at sample frame " + std::to_string(start + done),
                 "the plug-in delivered nothing");
        for (int64_t i = 0; i < delivered; ++i)
            for (uint32_t c = 0; c < channels; ++c)
                dest[static_cast<size_t>(done + i) * channels + c] = planes[c][i];
        done += delivered;
    }
}

// The stored integers come from the file through the container, as keo
// audio --pcm reads them: the host's float path keeps only 24 bits of a
// 32-bit sample.
void MovieReader::readStoredAudio(int64_t start, int64_t count, int bits, void* dest,
                                  const std::function<void()>& between) {
    Lease lease(*this); // keeps the descriptor the path names open
    keo::lib::StoredSound sound(path_);
    if (sound.bits() != bits)
        fail(given_, "the file stores " + std::to_string(sound.bits()) +
                         "-bit sound where the plug-in reports " + std::to_string(bits));
    constexpr int64_t kBlock = 48000;
    const int channels = sound.channels();
    std::vector<int32_t> block(static_cast<size_t>(kBlock) * channels);
    for (int64_t done = 0; done < count;) {
        between();
        const int64_t n = std::min(kBlock, count - done);
        sound.read(start + done, n, block.data());
        const size_t first = static_cast<size_t>(done) * channels;
        for (size_t k = 0, m = static_cast<size_t>(n) * channels; k < m; ++k) {
            if (bits == 8)
                static_cast<int8_t*>(dest)[first + k] = static_cast<int8_t>(block[k]);
            else if (bits == 16)
                static_cast<int16_t*>(dest)[first + k] = static_cast<int16_t>(block[k]);
            else
                static_cast<int32_t*>(dest)[first + k] = block[k];
        }
        done += n;
    }
}

void MovieReader::readAudio(int64_t start, int64_t count, int pcmBits, void* dest,
                            const std::function<void()>& between) {
    if (pcmBits == 0)
        readHostAudio(start, count, static_cast<float*>(dest), between);
    else
        readStoredAudio(start, count, pcmBits, dest, between);
}

std::string MovieReader::infoJson() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!json_.empty())
            return json_;
    }
    // The survey reads the file itself (every frame's header), not the
    // importer; the lease only keeps the descriptor open meanwhile.
    Lease lease(*this);
    std::string json = keo::lib::infoJson(path_, info_);
    std::lock_guard<std::mutex> hold(mutex_);
    json_ = json;
    return json_;
}

} // namespace keo::python
