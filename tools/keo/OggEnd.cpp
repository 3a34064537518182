// Walking an Ogg file's pages to find whether it has its end.
#include "OggEnd.h"

#include "base/ByteOrder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <vector>

namespace keo::tool {
namespace {

// A page header: "OggS", version 1, flags 1 (2: first page of a stream,
// 4: last), granule position 8, serial number 4, page number 4, checksum 4,
// segment count 1, then one byte of body length per segment.
constexpr int kHeaderBytes = 27;
constexpr int kMostHeaderBytes = kHeaderBytes + 255;
constexpr unsigned char kEndOfStream = 4;
// Files have a few streams at a time; a hostile one could name a new one
// on every page. Streams past this many are not followed.
constexpr size_t kMostStreams = 4096;

// The offset of the next capture pattern at or after `from`, or -1.
int64_t nextCapture(int fd, int64_t from, int64_t size) {
    std::vector<unsigned char> buf(64 * 1024);
    while (from < size) {
        const ssize_t got = pread(fd, buf.data(), buf.size(), from);
        if (got < 4)
            return -1;
        for (ssize_t i = 0; i + 4 <= got; ++i)
            if (std::memcmp(&buf[static_cast<size_t>(i)], "OggS", 4) == 0)
                return from + i;
        from += got - 3; // a pattern may straddle two reads
    }
    return -1;
}

} // namespace

OggEnding checkOggEnding(int fd) {
    OggEnding r;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return r;
    const int64_t size = st.st_size;
    std::map<uint32_t, bool> ended; // by serial number
    unsigned char h[kMostHeaderBytes];
    int64_t pos = 0;
    while (pos < size) {
        const ssize_t got = pread(fd, h, sizeof h, pos);
        if (got <= 0)
            break;
        const size_t magic = got < 4 ? static_cast<size_t>(got) : 4;
        if (std::memcmp(h, "OggS", magic) != 0) {
            if (pos == 0)
                return r;
            // Bytes between pages are not ours to judge; the decoder says
            // whether they matter.
            pos = nextCapture(fd, pos + 1, size);
            if (pos < 0)
                break;
            continue;
        }
        r.isOgg = true;
        const int segments = got >= kHeaderBytes ? h[26] : 0;
        if (got < kHeaderBytes || got < kHeaderBytes + segments) {
            r.whole = false;
            r.why = "its last Ogg page is cut short inside its header";
            return r;
        }
        int64_t body = 0;
        for (int i = 0; i < segments; ++i)
            body += h[kHeaderBytes + i];
        const int64_t end = pos + kHeaderBytes + segments + body;
        if (end > size) {
            r.whole = false;
            r.why = "its last Ogg page (at byte " + std::to_string(pos) + ") needs " +
                    std::to_string(end - size) + " bytes more than the file has";
            return r;
        }
        const uint32_t serial = keo::loadLE32(h + 14);
        auto it = ended.find(serial);
        if (it == ended.end() && ended.size() < kMostStreams)
            it = ended.emplace(serial, false).first;
        if (it != ended.end() && (h[5] & kEndOfStream))
            it->second = true;
        pos = end;
    }
    size_t open = 0;
    for (const auto& stream : ended)
        if (!stream.second)
            open++;
    if (open > 0) {
        r.whole = false;
        r.why = std::to_string(open) + " of its " + std::to_string(ended.size()) + " Ogg streams " +
                (open == 1 ? "has" : "have") + " no last page (one marked end-of-stream)";
    }
    return r;
}

} // namespace keo::tool
