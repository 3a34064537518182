// Hostile movie structure read by the container alone: atom sizes that lie,
// truncation, nesting, floods, too many tracks, repeated atoms, an
// unfinished writer. Each case must end with a clear answer and touch
// nothing outside the file; the movies are those of support/HostileCases.h,
// which the plug-in's fault tests drive through the importer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "OpenedMovie.h"
#include "support/SmallStack.h"

using namespace keotest;

namespace {

// Asks everything the importer would ask; frames that answer must lie
// inside the file and hold what the builder put there.
void exercise(OpenedMovie& o, size_t fileBytes) {
    if (!o.opened())
        return;
    int n = o.movie.nFrames();
    for (int i = 0; i < n && i < 8; i++) {
        long long offset = o.movie.frameOffset(i);
        int size = o.movie.frameSize(i);
        if (offset >= 0) {
            EXPECT_LE(static_cast<uint64_t>(offset) + size, fileBytes);
        }
        o.frameBytes(i);
    }
    if (o.movie.audioTracks() > 0) {
        std::vector<char> buf(200 * 4);
        o.movie.readAudio(buf.data(), 0, 200, 0);
    }
}

bool framesOk(OpenedMovie& o) {
    return o.opened() && o.movie.nFrames() == 2 && o.frameBytes(0) == dxt1Frame(0) &&
           o.frameBytes(1) == dxt1Frame(1);
}

} // namespace

// Sizes smaller than a header: the walk may not step backwards or stall.
TEST(HostileStructure, SizesTooSmall) {
    {
        HostileMovie o("stbl-free-size-0"); // any answer, as long as it ends
        exercise(o, o.fileBytes());
    }
    {
        HostileMovie o("top-free-size-0");
        EXPECT_TRUE(framesOk(o));
    }
    {
        HostileMovie o("stsz-size-4");
        EXPECT_TRUE(o.refused());
    }
    {
        HostileMovie o("top-large-size-3");
        EXPECT_TRUE(!o.opened() || o.movie.nFrames() == 0);
    }
}

// Sizes past the parent or past the file: nothing is read beyond either.
TEST(HostileStructure, SizesTooLarge) {
    {
        HostileMovie o("moov-size-past-end");
        EXPECT_TRUE(framesOk(o) || o.refused());
    }
    {
        HostileMovie o("moov-too-large-cut-in-stsz");
        EXPECT_TRUE(o.refused() || (o.opened() && o.movie.nFrames() == 0));
        exercise(o, o.fileBytes());
    }
    {
        HostileMovie o("minf-hdlr-past-parent");
        EXPECT_TRUE(o.refused() || (o.opened() && o.movie.nFrames() == 0));
    }
}

// Every prefix of the file, each in its own allocation of exactly that size
// (so the sanitizer sees the first byte read too far), and each on disk.
TEST(HostileStructure, EveryPrefixOfTheFile) {
    Bytes whole = baselineMovie(true).bytes();
    for (size_t cut = 0; cut <= whole.size(); cut++) {
        std::unique_ptr<uint8_t[]> prefix(new uint8_t[cut > 0 ? cut : 1]);
        std::memcpy(prefix.get(), whole.data(), cut);
        MovFile movie;
        if (movie.openReadMemory(prefix.get(), cut)) {
            for (int i = 0; i < movie.nFrames(); i++) {
                long long offset = movie.frameOffset(i);
                int size = movie.frameSize(i);
                if (offset >= 0) {
                    ASSERT_LE(static_cast<size_t>(offset) + size, cut);
                    Bytes frame(size);
                    EXPECT_EQ(movie.readFrame(i, frame.data()), size);
                    EXPECT_EQ(frame, dxt1Frame(static_cast<uint8_t>(i)));
                }
            }
            std::vector<char> audio(800);
            movie.readAudio(audio.data(), 0, 200, 0);
            int count;
            delete[] movie.getAudioData(0, count);
        }
        movie.close();
    }
    for (size_t cut = 0; cut <= whole.size(); cut += 7) {
        OpenedMovie o(Bytes(whole.begin(), whole.begin() + cut));
        exercise(o, cut);
    }
}

// Nesting within the reader's limit opens; deeper nesting is refused before
// the recursion reaches it.
TEST(HostileStructure, CmovNesting) {
    HostileMovie fifteen("cmov-nested-15");
    EXPECT_TRUE(framesOk(fifteen));
    HostileMovie seventeen("cmov-nested-17");
    EXPECT_TRUE(seventeen.refused());
    HostileMovie deep("cmov-nested-10000");
    EXPECT_TRUE(deep.refused());
}

// A host opens files on worker threads with small stacks: the refusal of
// deep nesting must not depend on the main thread's large one.
TEST(HostileStructure, DeepNestingOnASmallStack) {
    const Bytes& bytes = keofaults::hostileCase("cmov-nested-10000").bytes;
    bool refused = false;
    ASSERT_TRUE(keotest::runOnSmallStack([&] {
        MovFile movie;
        refused = movie.openReadMemory(bytes.data(), bytes.size()) == nullptr && movie.ok;
        movie.close();
    }));
    EXPECT_TRUE(refused);
}

// Floods of atoms at the start of moov end in time, and padding opens.
TEST(HostileStructure, WalkFloods) {
    {
        HostileMovie o("moov-zero-flood"); // size 0 inside moov refuses; either way it ends
        EXPECT_TRUE(o.refused() || framesOk(o));
    }
    {
        HostileMovie o("moov-free-flood");
        EXPECT_TRUE(framesOk(o));
    }
}

// The reader keeps 1,024 tracks; the ones after them are dropped, not
// written past its track list.
TEST(HostileStructure, MoreThan1024Tracks) {
    for (const char* id : {"tracks-1025-last-unknown", "tracks-1101-last-unknown"}) {
        HostileMovie o(id);
        EXPECT_TRUE(framesOk(o)) << id;
        ASSERT_NE(o.movie.file, nullptr);
        EXPECT_EQ(o.movie.file->moov.totalTracks, 1024);
        EXPECT_EQ(o.movie.file->totalVideoTracks, 1);
    }
}

// An atom that appears twice: the later stsz counts, a second stsd or moov
// changes nothing.
TEST(HostileStructure, RepeatedAtoms) {
    {
        HostileMovie o("stsz-twice");
        ASSERT_TRUE(o.opened());
        EXPECT_EQ(o.movie.nFrames(), 5);
        EXPECT_EQ(o.frameBytes(0), dxt1Frame(0));
        EXPECT_EQ(o.frameBytes(1), dxt1Frame(1));
        for (int i = 2; i < 5; i++) {
            EXPECT_EQ(o.movie.frameOffset(i), -1);
            EXPECT_EQ(o.movie.frameSize(i), 0);
        }
    }
    for (const char* id : {"stsd-twice", "moov-twice"}) {
        HostileMovie o(id);
        EXPECT_TRUE(framesOk(o)) << id;
    }
}

// What a writer that stopped mid-file leaves: an mdat of size 0, no moov.
TEST(HostileStructure, UnfinishedWriter) {
    HostileMovie o("unfinished-writer");
    EXPECT_TRUE(!o.opened() || o.movie.nFrames() == 0);
}

// Hardened: a wide atom before a 64-bit mdat keeps the moov behind it.
TEST(HostileStructure, WideBeforeLargeMdatKeepsTheMoov) {
    Movie m = baselineMovie();
    m.top.insert(m.top.begin(), atom("wide"));
    shiftChunkOffsets(m.moov(), 8);
    OpenedMovie o(m);
    EXPECT_TRUE(framesOk(o));
    EXPECT_EQ(o.movie.file->mdat.start, 8);
}

// Hardened: field blocks shorter than their fields refuse the file rather than
// reading the next atom's bytes as theirs.
TEST(HostileStructure, ShortFixedAtomsAreRefused) {
    for (const char* path :
         {"mvhd", "trak/tkhd", "trak/mdia/mdhd", "trak/mdia/minf/vmhd", "trak/mdia/hdlr"}) {
        Movie m = baselineMovie();
        Atom* a = m.find(path);
        a->data.resize(a->data.size() > 30 ? 20 : 4);
        OpenedMovie o(m);
        EXPECT_TRUE(o.refused()) << path;
    }
}
