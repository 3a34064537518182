// Hostile movies, structure rows H1-H8: atom sizes that lie, truncation,
// nesting, floods, too many tracks, repeated atoms, an unfinished writer.
// Each case must end with a clear answer and touch nothing outside the file.
#include <gtest/gtest.h>

#include <pthread.h>

#include <cstring>
#include <memory>

#include "OpenedMovie.h"

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

Bytes header(uint32_t size, const char* type) {
    Bytes b;
    put32(b, size);
    putType(b, type);
    return b;
}

size_t find(const Bytes& b, const char* type, size_t from = 0) {
    for (size_t i = from; i + 4 <= b.size(); i++)
        if (std::memcmp(&b[i], type, 4) == 0)
            return i;
    return std::string::npos;
}

Movie nestedCmov(int levels) {
    Movie m = baselineMovie();
    Bytes nest;
    for (int i = 0; i < levels; i++)
        append(nest, header(static_cast<uint32_t>(8 * (levels - i)), "cmov"));
    m.moov().prepend(raw(nest));
    return m;
}

} // namespace

TEST(HostileStructure, H1_SizesTooSmall) {
    {
        Movie m = baselineMovie();
        m.find("trak/mdia/minf/stbl")->prepend(raw(header(0, "free")));
        OpenedMovie o(m); // any answer, as long as it ends
        exercise(o, m.bytes().size());
    }
    {
        Movie m = baselineMovie();
        m.top.push_back(raw(header(0, "free")));
        OpenedMovie o(m);
        EXPECT_TRUE(framesOk(o));
    }
    {
        Movie m = baselineMovie();
        m.find("trak/mdia/minf/stbl/stsz")->size = 4;
        OpenedMovie o(m);
        EXPECT_TRUE(o.refused());
    }
    {
        Movie m = baselineMovie();
        Bytes lead = header(1, "free");
        put64(lead, 3);
        m.top.insert(m.top.begin(), raw(lead));
        shiftChunkOffsets(m.moov(), 16);
        OpenedMovie o(m);
        EXPECT_TRUE(!o.opened() || o.movie.nFrames() == 0);
    }
}

TEST(HostileStructure, H2_SizesTooLarge) {
    {
        Movie m = baselineMovie();
        m.moov().size = 0xFFFFFFF0u;
        OpenedMovie o(m);
        EXPECT_TRUE(framesOk(o) || o.refused());
    }
    {
        Movie m = baselineMovie();
        m.moov().size = m.moov().trueSize() + 1000000;
        Bytes b = m.bytes();
        size_t stsz = find(b, "stsz");
        b.resize(stsz + 4 + 12 + 4); // after the first of two entries
        OpenedMovie o(b);
        EXPECT_TRUE(o.refused() || (o.opened() && o.movie.nFrames() == 0));
        exercise(o, b.size());
    }
    {
        Movie m = baselineMovie();
        Atom* hdlr = m.find("trak/mdia/minf/hdlr");
        hdlr->size = hdlr->trueSize() + 10000;
        OpenedMovie o(m);
        EXPECT_TRUE(o.refused() || (o.opened() && o.movie.nFrames() == 0));
    }
}

// Every prefix of the file, each in its own allocation of exactly that size
// (so the sanitizer sees the first byte read too far), and each on disk.
TEST(HostileStructure, H3_TruncationSweep) {
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

TEST(HostileStructure, H4_CmovNesting) {
    OpenedMovie fifteen(nestedCmov(15));
    EXPECT_TRUE(framesOk(fifteen));
    OpenedMovie seventeen(nestedCmov(17));
    EXPECT_TRUE(seventeen.refused());
    OpenedMovie deep(nestedCmov(10000));
    EXPECT_TRUE(deep.refused());
}

TEST(HostileStructure, H4_DeepNestingOnASmallStack) {
    struct Job {
        Bytes bytes;
        bool refused = false;
    } job{nestedCmov(10000).bytes()};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        Job* j = static_cast<Job*>(arg);
        MovFile movie;
        j->refused = movie.openReadMemory(j->bytes.data(), j->bytes.size()) == nullptr && movie.ok;
        movie.close();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_TRUE(job.refused);
}

TEST(HostileStructure, H5_WalkFloods) {
    {
        Movie m = baselineMovie();
        m.moov().prepend(raw(Bytes(1 << 20, 0)));
        OpenedMovie o(m); // size 0 inside moov refuses; either way it ends
        EXPECT_TRUE(o.refused() || framesOk(o));
    }
    {
        Movie m = baselineMovie();
        Bytes flood;
        for (int i = 0; i < 131072; i++)
            append(flood, header(8, "free"));
        m.moov().prepend(raw(flood));
        OpenedMovie o(m);
        EXPECT_TRUE(framesOk(o));
    }
}

TEST(HostileStructure, H6_MoreThan1024Tracks) {
    for (int extra : {1023, 1099}) {
        Movie m = baselineMovie();
        Atom tkhdOnly = atom("trak", {}, {atom("tkhd", tkhdBody(8, 8, 9))});
        for (int i = 0; i < extra; i++)
            m.moov().add(tkhdOnly);
        Atom bad = m.moov().children[1];
        bad.find("mdia/minf/stbl/stsd")->children[0].type = "XXXX";
        m.moov().add(bad);
        OpenedMovie o(m);
        EXPECT_TRUE(framesOk(o)) << extra;
        ASSERT_NE(o.movie.file, nullptr);
        EXPECT_EQ(o.movie.file->moov.totalTracks, 1024);
        EXPECT_EQ(o.movie.file->totalVideoTracks, 1);
    }
}

TEST(HostileStructure, H7_RepeatedAtoms) {
    {
        Movie m = baselineMovie();
        m.find("trak/mdia/minf/stbl")->add(atom("stsz", stszBody(0, 5, {60, 60, 60, 60, 60})));
        OpenedMovie o(m);
        ASSERT_TRUE(o.opened());
        EXPECT_EQ(o.movie.nFrames(), 5);
        EXPECT_EQ(o.frameBytes(0), dxt1Frame(0));
        EXPECT_EQ(o.frameBytes(1), dxt1Frame(1));
        for (int i = 2; i < 5; i++) {
            EXPECT_EQ(o.movie.frameOffset(i), -1);
            EXPECT_EQ(o.movie.frameSize(i), 0);
        }
    }
    {
        Movie m = baselineMovie();
        Atom* stbl = m.find("trak/mdia/minf/stbl");
        stbl->add(stbl->children[0]);
        OpenedMovie o(m);
        EXPECT_TRUE(framesOk(o));
    }
    {
        Movie m = baselineMovie();
        m.top.push_back(m.moov());
        OpenedMovie o(m);
        EXPECT_TRUE(framesOk(o));
    }
}

TEST(HostileStructure, H8_UnfinishedWriter) {
    Movie m = baselineMovie();
    m.mdat().size = 0;
    m.top.pop_back();
    OpenedMovie o(m);
    EXPECT_TRUE(!o.opened() || o.movie.nFrames() == 0);
}

// Mend: a wide atom before a 64-bit mdat keeps the moov behind it.
TEST(HostileStructure, WideBeforeLargeMdatKeepsTheMoov) {
    Movie m = baselineMovie();
    m.top.insert(m.top.begin(), atom("wide"));
    shiftChunkOffsets(m.moov(), 8);
    OpenedMovie o(m);
    EXPECT_TRUE(framesOk(o));
    EXPECT_EQ(o.movie.file->mdat.start, 8);
}

// Mend: field blocks shorter than their fields refuse the file rather than
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
