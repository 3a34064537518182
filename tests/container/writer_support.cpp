// Helpers of the writer's tests; see writer_support.h.
#include "writer_support.h"

#include "container/MovFile.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace writertest {

TempMovie::TempMovie() {
    static std::atomic<int> counter{0};
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir && *dir ? dir : "/tmp") + "/keo_writer_" + std::to_string(getpid()) +
           "_" + std::to_string(counter++) + ".mov";
}

TempMovie::~TempMovie() {
    std::remove(path.c_str());
}

MemoryStream::MemoryStream(std::function<void(const Bytes&)> watcher) : watch(std::move(watcher)) {
    cookie_io_functions_t io{};
    io.write = [](void* c, const char* buf, size_t n) -> ssize_t {
        auto* m = static_cast<MemoryStream*>(c);
        if (m->watch && n > 8)
            m->land(buf, n / 2);
        m->land(buf, n);
        m->at += n;
        return static_cast<ssize_t>(n);
    };
    io.seek = [](void* c, off64_t* offset, int whence) {
        auto* m = static_cast<MemoryStream*>(c);
        const off64_t base = whence == SEEK_SET   ? 0
                             : whence == SEEK_CUR ? static_cast<off64_t>(m->at)
                                                  : static_cast<off64_t>(m->bytes.size());
        if (base + *offset < 0)
            return -1;
        m->at = static_cast<size_t>(base + *offset);
        *offset = static_cast<off64_t>(m->at);
        return 0;
    };
    stream = fopencookie(this, "wb", io);
    if (watch)
        setvbuf(stream, nullptr, _IONBF, 0);
}

void MemoryStream::land(const char* buf, size_t n) {
    if (bytes.size() < at + n)
        bytes.resize(at + n);
    std::copy(buf, buf + n, bytes.begin() + static_cast<ptrdiff_t>(at));
    if (watch)
        watch(bytes);
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint64_t be(const Bytes& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; i++)
        v = (v << 8) | (at + i < b.size() ? b[at + i] : 0);
    return v;
}

Fields fields(const Bytes& f, const Span& atom, size_t at, int width, size_t n) {
    Fields out;
    for (size_t i = 0; i < n; i++)
        out.push_back(be(f, atom.start + at + i * static_cast<size_t>(width), width));
    return out;
}

Fields chunkOffsets(const Bytes& f, const Span& co64) {
    const size_t room = co64.size >= 16 ? (co64.size - 16) / 8 : 0;
    const size_t count = static_cast<size_t>(be(f, co64.start + 12, 4));
    return fields(f, co64, 16, 8, count < room ? count : room);
}

std::string text(const Bytes& b, size_t at, size_t n) {
    if (at > b.size() || n > b.size() - at)
        return {};
    return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

namespace {

// Header size and the bytes before an atom's first child.
size_t childOffset(const Bytes& file, size_t start) {
    size_t header = be(file, start, 4) == 1 ? 16 : 8;
    // stsd carries version, flags and a count before its entries.
    return header + (text(file, start + 4, 4) == "stsd" ? 8 : 0);
}

template <typename Visit> void walk(const Bytes& file, size_t begin, size_t end, Visit visit) {
    size_t at = begin;
    while (at + 8 <= end) {
        uint64_t size = be(file, at, 4);
        if (size == 1)
            size = be(file, at + 8, 8);
        if (size < 8 || size > end - at)
            return;
        if (!visit(Span{at, static_cast<size_t>(size), true}))
            return;
        at += static_cast<size_t>(size);
    }
}

} // namespace

Span find(const Bytes& file, const std::string& path) {
    size_t begin = 0;
    size_t end = file.size();
    Span found;
    size_t from = 0;
    while (from <= path.size()) {
        size_t slash = path.find('/', from);
        std::string part =
            path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
        int index = 0;
        size_t hash = part.find('#');
        if (hash != std::string::npos) {
            index = std::stoi(part.substr(hash + 1));
            part = part.substr(0, hash);
        }
        Span match;
        walk(file, begin, end, [&](const Span& s) {
            if (text(file, s.start + 4, 4) == part && index-- == 0) {
                match = s;
                return false;
            }
            return true;
        });
        if (!match.found)
            return Span{};
        found = match;
        begin = match.start + childOffset(file, match.start);
        end = match.end();
        if (slash == std::string::npos)
            break;
        from = slash + 1;
    }
    return found;
}

std::vector<std::string> childTypes(const Bytes& file, const Span& parent) {
    std::vector<std::string> types;
    walk(file, parent.start + childOffset(file, parent.start), parent.end(), [&](const Span& s) {
        types.push_back(text(file, s.start + 4, 4));
        return true;
    });
    return types;
}

Bytes pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = static_cast<uint8_t>(x);
    }
    return b;
}

int writeVideoMovie(const std::string& path, const std::vector<size_t>& sizes, keo::FrameRate rate,
                    int width, int height) {
    MovFile movie;
    char compressor[] = "ZUVM";
    if (!movie.openWrite(path.c_str(), compressor, width, height, rate, 1, 0, 0, 0, 0))
        return -1;
    for (size_t i = 0; i < sizes.size(); i++) {
        Bytes frame = pattern(sizes[i], static_cast<uint32_t>(i));
        if (movie.writeFrame(0, static_cast<int>(frame.size()), frame.data()) != 0) {
            movie.close();
            return -1;
        }
    }
    return movie.close();
}

int runWithFileSizeLimit(uint64_t limit, const std::function<int()>& body) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit rl{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
            _exit(100);
        _exit(body());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool openVideo(MovFile& movie, const std::string& path, bool withAudio) {
    static char kZuvm[] = "ZUVM";
    return movie.openWrite(path.c_str(), kZuvm, 32, 32, {25, 1}, 1, withAudio ? 1 : 0, 48000, 2,
                           16) != nullptr;
}

std::vector<Bytes> readFrames(const std::string& path) {
    std::vector<Bytes> frames;
    MovFile reader;
    if (!reader.openRead(path.c_str()))
        return frames;
    for (int i = 0; i < reader.nFrames(); i++) {
        Bytes b(static_cast<size_t>(reader.frameSize(i)));
        reader.readFrame(i, b.data());
        frames.push_back(b);
    }
    reader.close();
    return frames;
}

std::vector<Bytes> framesOf(const std::vector<size_t>& sizes) {
    std::vector<Bytes> frames;
    for (size_t i = 0; i < sizes.size(); i++)
        frames.push_back(pattern(sizes[i], static_cast<uint32_t>(i)));
    return frames;
}

} // namespace writertest
