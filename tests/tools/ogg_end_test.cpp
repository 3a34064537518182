// Whether keo takes an Ogg file for whole: files of pages built here, each
// page with its flags, stream number and a body of a given length, and the
// same files cut or damaged the way a download or a disk leaves them.
#include "OggEnd.h"
#include "tools/TempFolder.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

using keo::tool::checkOggEnding;
using keo::tool::OggEnding;

namespace {

using Bytes = std::vector<unsigned char>;
constexpr unsigned char kFirst = 2, kLast = 4;

// One page: capture pattern, version 0, flags, granule position, stream
// number, page number, checksum (not checked by keo, left 0), then the
// segment table (255s and a remainder) and the body.
Bytes page(unsigned char flags, uint32_t serial, size_t body) {
    Bytes b = {'O', 'g', 'g', 'S', 0, flags, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(serial >> (8 * i)));
    b.insert(b.end(), 8, 0);
    b.push_back(static_cast<unsigned char>(body / 255 + 1));
    b.insert(b.end(), body / 255, 255);
    b.push_back(static_cast<unsigned char>(body % 255));
    b.insert(b.end(), body, 0x5A);
    return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST_F(TempFolder, OggFilesAreWholeOnlyWithEveryStreamEnded) {
    // Two streams, as a movie with picture and sound has them.
    const Bytes whole = page(kFirst, 1, 30) + page(kFirst, 2, 30) + page(0, 1, 600) +
                        page(0, 2, 300) + page(kLast, 1, 100) + page(kLast, 2, 40);
    const long lastAt = static_cast<long>(whole.size() - page(kLast, 2, 40).size());
    struct Case {
        const char* what;
        Bytes bytes;
        bool isOgg, whole;
        const char* why;
    } cases[] = {
        {"both streams closed by their last page", whole, true, true, ""},
        {"one after the other, each closed (a chained file)",
         page(kFirst, 7, 30) + page(kLast, 7, 500) + page(kFirst, 8, 30) + page(kLast, 8, 9), true,
         true, ""},
        {"cut on a page boundary, before the sound's last page",
         Bytes(whole.begin(), whole.begin() + lastAt), true, false,
         "1 of its 2 Ogg streams has no last page"},
        {"cut inside the last page's header", Bytes(whole.begin(), whole.begin() + lastAt + 20),
         true, false, "cut short inside its header"},
        {"bytes of noise between two pages, skipped to the next page",
         page(kFirst, 1, 30) + Bytes(100, 0x11) + page(kLast, 1, 30), true, true, ""},
        {"not an Ogg file", Bytes{0x1A, 0x45, 0xDF, 0xA3, 0, 0, 0, 0}, false, true, ""},
    };
    for (const Case& c : cases) {
        const std::string path = file("in.ogg");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(c.bytes.data()), c.bytes.size());
        const int fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const OggEnding e = checkOggEnding(fd);
        close(fd);
        EXPECT_EQ(e.isOgg, c.isOgg) << c.what;
        EXPECT_EQ(e.whole, c.whole) << c.what << ": " << e.why;
        EXPECT_NE(e.why.find(c.why), std::string::npos) << c.what << ": " << e.why;
    }
}
