// Reading a movie through the importer module, over one shared stand-in host.
#include "MovieReader.h"

#include "PluginDriver.h"
#include "base/PixelOrder.h"
#include "libkeo/Failure.h"
#include "libkeo/InfoFacts.h"
#include "libkeo/PluginResults.h"

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

// $KEO_PLUGIN, as for keo; else the module installed beside this one
// (keo.libs/), else the build tree's (build/python/../lib/).
std::string locateModule() {
    const char* env = std::getenv("KEO_PLUGIN");
    if (env && *env)
        return env;
    const std::string folder = extensionFolder();
    const std::string installed = folder + "/keo.libs/KEOImporter.so";
    const std::string built = folder + "/../lib/KEOImporter.so";
    return exists(installed) || !exists(built) ? installed : built;
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

keo::PixelLayout layoutOf(PixelOrder order) {
    switch (order) {
    case PixelOrder::RGBA:
        return keo::PixelLayout::RGBA;
    case PixelOrder::BGRA:
        return keo::PixelLayout::BGRA;
    default:
        return keo::PixelLayout::ARGB;
    }
}

} // namespace

struct MovieReader::Lease {
    MovieReader& movie;
    PluginSession* session;
    explicit Lease(MovieReader& m) : movie(m), session(m.acquire()) {}
    ~Lease() { movie.release(session); }
};

MovieReader::MovieReader(const std::string& path) : path_(path) {
    fd_ = openReadable(path);
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

PluginSession* MovieReader::acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (closed_)
            fail(path_, "the movie is closed");
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
        idleChanged_.wait(lock);
    }
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

void MovieReader::readFrame(int index, PixelOrder order, uint8_t* dest) {
    Lease lease(*this);
    const int r = keo::lib::fetchFrame(*lease.session, index, dest);
    if (r != 0)
        fail("frame " + std::to_string(index), keo::lib::resultWords(r), keo::lib::kExitDamaged);
    // Delivered as the codec's ARGB32, rows packed; reordered where it lies.
    const keo::PixelLayout layout = layoutOf(order);
    if (layout != keo::PixelLayout::ARGB) {
        const size_t pitch = static_cast<size_t>(info_.width) * 4;
        keo::convertPixels({keo::PixelLayout::ARGB, layout}, dest, pitch, dest, pitch, info_.width,
                           info_.height);
    }
}

void MovieReader::readAudio(int64_t start, int64_t count, int pcmBits, void* dest) {
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
        const int r = keo::lib::fetchAudio(*lease.session, done == 0 ? start : -1, want,
                                           planar.data(), &delivered);
        if (r != 0)
            fail("audio sample frames " + keo::lib::sampleSpan(start + done, want),
                 keo::lib::resultWords(r), keo::lib::kExitDamaged);
        if (delivered <= 0)
            fail("audio at sample frame " + std::to_string(start + done),
                 "the plug-in delivered nothing");
        for (int64_t i = 0; i < delivered; ++i)
            for (uint32_t c = 0; c < channels; ++c) {
                const size_t k = static_cast<size_t>(done + i) * channels + c;
                const float f = planes[c][i];
                switch (pcmBits) {
                case 0:
                    static_cast<float*>(dest)[k] = f;
                    break;
                case 8:
                    static_cast<int8_t*>(dest)[k] =
                        static_cast<int8_t>(keo::lib::storedSample(f, 8));
                    break;
                case 16:
                    static_cast<int16_t*>(dest)[k] =
                        static_cast<int16_t>(keo::lib::storedSample(f, 16));
                    break;
                default:
                    static_cast<int32_t*>(dest)[k] = keo::lib::storedSample(f, pcmBits);
                }
            }
        done += delivered;
    }
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
