// Memory at open follows the bytes a movie really gives to its tables, not
// the counts they claim. Each movie here is a sparse file of 1 GiB: a few KB
// of atoms and a hole that reads as zeros and takes no disk, as a cut
// download or a hostile file may be. A reader that trusts the counts takes
// gigabytes for it; through the plug-in module, imOpenFile8 and imGetInfo8
// must leave the peak resident size of the whole process under 256 MiB.
// Each open runs in a child process, whose peak the kernel hands back to the
// parent with its exit.
#include <gtest/gtest.h>

#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PluginDriver.h"
#include "StandInHost.h"
#include "support/MovieBuilder.h"

namespace {

using namespace keotest;

constexpr uint64_t kGiB = uint64_t{1} << 30;
constexpr long kPeakLimitKiB = 256 * 1024;

struct ChildOpen {
    int32_t open = -1; // imOpenFile8's answer
    long peakKiB = -1; // the child's peak resident size
};

// imOpenFile8, imGetInfo8 when it opened, and imCloseFile, in a child.
ChildOpen openInChild(ImportEntryFunc entry, const std::string& path) {
    ChildOpen r;
    const pid_t pid = fork();
    if (pid == 0) {
        keo::host::StandInHost* host = keo::host::createHost();
        keo::host::ImporterSession s;
        keo::host::startImporter(&s, entry, host);
        const int32_t open = keo::host::openFile(&s, path);
        if (open == 0)
            keo::host::describeFile(&s);
        keo::host::closeFile(&s);
        keo::host::destroyHost(host);
        _exit(open >= 0 && open < 100 ? open : 100);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status))
        return r;
    r.open = WEXITSTATUS(status);
    r.peakKiB = usage.ru_maxrss;
    return r;
}

// A movie whose moov comes first and whose one video track keeps `count`
// samples of `size` bytes each in one chunk just after the mdat header; the
// mdat then runs to the end of the 1 GiB file.
Bytes oneChunkMovie(uint32_t size, uint32_t count, uint64_t* fileBytes) {
    VideoTrack v;
    v.tables.stts = {{count, 24}};
    v.tables.stsc = {{1, count, 1}};
    v.tables.sampleSize = size;
    v.tables.sampleCount = count;
    v.tables.offsets = {0};
    Movie m;
    m.top.push_back(atom("moov", {}, {atom("mvhd", mvhdBody()), videoTrak(v)}));
    Atom mdat = atom("mdat");
    mdat.large = true;
    m.top.push_back(mdat);
    const uint64_t moovBytes = m.moov().trueSize();
    m.find("trak/mdia/minf/stbl/co64")->data = co64Body({moovBytes + 16});
    m.mdat().size = kGiB - moovBytes;
    *fileBytes = kGiB;
    return m.bytes();
}

// The baseline movie, with a moov whose size field claims 1 GiB: its real
// atoms, then the hole.
Bytes claimedMovieAtom(uint64_t* fileBytes) {
    Movie m = baselineMovie();
    m.moov().size = kGiB;
    Bytes bytes = m.bytes();
    *fileBytes = bytes.size() - m.moov().trueSize() + kGiB;
    return bytes;
}

TEST(SparseMovieMemory, OpeningTakesTheMemoryOfTheBytesNotOfTheCounts) {
    std::string why;
    ImportEntryFunc entry = keo::host::keptEntry(KEO_PLUGIN_PATH, &why);
    ASSERT_NE(entry, nullptr) << why;
    struct Case {
        const char* what;
        Bytes bytes;
        uint64_t fileBytes;
        int32_t open;
    };
    uint64_t tiny = 0, fits = 0, claimed = 0;
    const Case cases[] = {
        // 2^28 x 4 bytes fill the file exactly, but no 4-byte sample can
        // hold a frame's 28-byte header: refused at open, nothing indexed.
        {"2^28 samples of 4 bytes", oneChunkMovie(4, 1u << 28, &tiny), tiny, imBadFile},
        // Samples that could be frames, as many as the file could hold: the
        // one chunk that holds them all is what the reader keeps, not one
        // entry per claimed frame.
        {"2^25 samples of 32 bytes", oneChunkMovie(32, 1u << 25, &fits), fits, 0},
        // Longer than the tables of any real movie: refused before it is read.
        {"a movie atom of 1 GiB", claimedMovieAtom(&claimed), claimed, imBadFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFile file(c.bytes);
        ASSERT_EQ(truncate(file.path.c_str(), static_cast<off_t>(c.fileBytes)), 0);
        const ChildOpen r = openInChild(entry, file.path);
        EXPECT_EQ(r.open, c.open);
        EXPECT_GT(r.peakKiB, 0);
        EXPECT_LT(r.peakKiB, kPeakLimitKiB) << "peak resident size " << r.peakKiB << " KiB";
    }
}

} // namespace
