// Hostile movies, table rows T1-T9, description rows D1-D6 and dimension
// rows V1-V2: counts that cannot fit, products that wrap, samples and
// chunks outside the file, zero durations and time scales.
#include <gtest/gtest.h>

#include <climits>

#include "OpenedMovie.h"

using namespace keotest;

namespace {

const char* kStbl = "trak/mdia/minf/stbl";

Atom* table(Movie& m, const char* name) {
    return m.find(std::string(kStbl) + "/" + name);
}

bool frameOk(OpenedMovie& o, int i) {
    return o.frameBytes(i) == dxt1Frame(static_cast<uint8_t>(i));
}

bool frameFails(OpenedMovie& o, int i) {
    return o.movie.frameOffset(i) == -1 && o.movie.frameSize(i) == 0;
}

} // namespace

TEST(HostileTables, T1_CountsThatCannotFit) {
    Movie a = baselineMovie();
    table(a, "stts")->data = sttsBody({{2, 24}}, 0xFFFFFFFF);
    Movie b = baselineMovie();
    table(b, "stsz")->data = stszBody(0, 0xFFFFFFFF, {});
    Movie c = baselineMovie();
    c.find("trak/edts/elst")->data = elstBody({{0, 0, 0x10000}}, 0xFFFFFFFF);
    for (Movie* m : {&a, &b, &c}) {
        OpenedMovie o(*m);
        EXPECT_TRUE(o.refused());
    }
}

TEST(HostileTables, T2_CountTimesSizeWrapsThirtyTwoBits) {
    Movie a = baselineMovie();
    table(a, "stsc")->data = stscBody({{1, 1, 1}}, 0x15555556);
    Movie b = baselineMovie();
    *table(b, "co64") = atom("stco", stcoBody({16, 76}, 0x40000002));
    Movie c = baselineMovie();
    table(c, "stsz")->data = stszBody(0, 0x40000002, {60, 60});
    for (Movie* m : {&a, &b, &c}) {
        OpenedMovie o(*m);
        EXPECT_TRUE(o.refused());
    }
}

TEST(HostileTables, T3_ConstantSizeHugeCount) {
    Movie m = baselineMovie();
    table(m, "stsz")->data = stszBody(60, 0xFFFFFFFF, {});
    OpenedMovie o(m);
    if (o.opened()) {
        EXPECT_TRUE(frameOk(o, 0) && frameOk(o, 1) && frameFails(o, 2));
        int64_t d, ts;
        EXPECT_EQ(o.movie.file->videoMaps[0].track->duration(&d, &ts), 0);
    } else {
        EXPECT_TRUE(o.refused());
    }
}

TEST(HostileTables, T4_SamplesReachingPastTheFile) {
    for (uint32_t size : {0x80000000u, 1060u}) {
        Movie m = baselineMovie();
        table(m, "stsz")->data = stszBody(0, 2, {60, size});
        OpenedMovie o(m);
        ASSERT_TRUE(o.opened());
        EXPECT_TRUE(frameOk(o, 0));
        EXPECT_TRUE(frameFails(o, 1)) << size;
    }
}

TEST(HostileTables, T5_BadFirstChunks) {
    const std::vector<std::vector<std::array<uint32_t, 3>>> cases = {
        {{0, 1, 1}}, {{1, 1, 1}, {100663297, 1, 1}, {2, 1, 1}}, {{16777217, 1, 1}}};
    for (const auto& entries : cases) {
        Movie m = baselineMovie();
        table(m, "stsc")->data = stscBody(entries);
        OpenedMovie o(m);
        EXPECT_TRUE(o.refused() || (frameFails(o, 0) && frameFails(o, 1)));
    }
}

TEST(HostileTables, T6_ZeroSamplesPerChunk) {
    Movie m = baselineMovie();
    table(m, "stsc")->data = stscBody({{1, 0, 1}});
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_TRUE(frameFails(o, 0));
    EXPECT_TRUE(frameFails(o, 1));
}

TEST(HostileTables, T7_ChunkOffsetPastTheEnd) {
    Movie m = baselineMovie();
    table(m, "co64")->data = co64Body({16, 0xC000009D});
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_TRUE(frameOk(o, 0));
    EXPECT_TRUE(frameFails(o, 1));

    Movie control = baselineMovie();
    table(control, "co64")->data = co64Body({16, 76, 0xC000009D});
    OpenedMovie c(control);
    EXPECT_TRUE(frameOk(c, 0) && frameOk(c, 1));
}

TEST(HostileTables, T8_ZeroDurations) {
    Movie m = baselineMovie();
    table(m, "stts")->data = sttsBody({{2, 0}});
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    int n, d;
    o.movie.frameRate(n, d);
    EXPECT_EQ(d, 0); // the importer answers "no video" on this
    EXPECT_EQ(o.movie.frameRate(), 0.0f);
    EXPECT_EQ(o.movie.file->videoMaps[0].track->samples(o.movie.file, o.movie), 0);

    Movie control = baselineMovie();
    table(control, "stts")->data = sttsBody({{1, 24}, {1, 0}});
    OpenedMovie c(control);
    c.movie.frameRate(n, d);
    EXPECT_EQ(d, 24);
    EXPECT_TRUE(frameOk(c, 0) && frameOk(c, 1));
}

TEST(HostileTables, T9_ZeroTimeScales) {
    Movie m = baselineMovie();
    m.find("trak/mdia/mdhd")->data = mdhdBody(0);
    OpenedMovie o(m);
    int n, d;
    o.movie.frameRate(n, d);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(o.movie.frameRate(), 0.0f);

    Movie control = baselineMovie();
    control.find("mvhd")->data = mvhdBody(0);
    OpenedMovie c(control);
    c.movie.frameRate(n, d);
    EXPECT_EQ(n, 600);
    EXPECT_TRUE(frameOk(c, 0) && frameOk(c, 1));
}

TEST(HostileDescriptions, D1_HugeEntryCount) {
    Movie m = baselineMovie();
    *table(m, "stsd") = stsdAtom({videoEntry("ZUVM")}, 0xFFFFFFFF);
    OpenedMovie o(m);
    EXPECT_TRUE(o.refused());
}

TEST(HostileDescriptions, D2_EntrySizes) {
    for (uint64_t size : {0, 8, 15, 40, 186}) {
        Movie m = baselineMovie();
        table(m, "stsd")->children[0].size = size;
        OpenedMovie o(m);
        EXPECT_FALSE(o.opened()) << size;
        EXPECT_TRUE(o.refused()) << size;
    }
}

TEST(HostileDescriptions, D3_CompressorNameWithFullLengthByte) {
    Movie m = baselineMovie();
    Atom& entry = table(m, "stsd")->children[0];
    entry.data[8 + 34] = 0xFF;
    for (int i = 0; i < 31; i++)
        entry.data[8 + 35 + i] = 'A';
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    const QuicktimeSTSDTable* d = o.movie.firstVideoDescription();
    EXPECT_EQ(std::string(d->compressorName), std::string(31, 'A'));
    EXPECT_EQ(d->depth, 24);
}

// Mend: the handler name is only shown, so a name that is not a Pascal
// string that fits its atom never refuses the movie. A length byte running
// past the atom means the name was stored as text without one (as many
// writers store it): the bytes that are there, up to a zero byte, are the
// name. A Pascal name that fits, and no name at all, read as before.
TEST(HostileDescriptions, HandlerNamesThatAreNotPascalStrings) {
    struct Case {
        const char* what;
        Bytes name; // the bytes after the handler's fixed 24
        std::string expected;
    };
    Bytes cString = {'V', 'i', 'd', 'e', 'o', 'H', 'a', 'n', 'd', 'l', 'e', 'r', 0};
    const Case cases[] = {
        {"length 200 with 3 bytes left",
         {200, 'a', 'b', 'c'},
         "\xC8"
         "abc"},
        {"a C string", cString, "VideoHandler"},
        {"a C string with bytes after its zero", {'S', 'n', 'd', 0, 'x', 'y'}, "Snd"},
        {"no name at all", {}, ""},
        {"a Pascal string that fits", {3, 'a', 'b', 'c', 0}, "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* where : {"trak/mdia/hdlr", "trak/mdia/minf/hdlr"}) {
            Movie m = baselineMovie();
            Bytes body = hdlrBody("vide", "");
            body.resize(24);
            append(body, c.name);
            m.find(where)->data = body;
            OpenedMovie o(m);
            ASSERT_TRUE(o.opened()) << where;
            const QuicktimeMdia& mdia = o.movie.firstVideoTrack()->mdia;
            const QuicktimeHDLR& hdlr =
                std::string(where) == "trak/mdia/hdlr" ? mdia.hdlr : mdia.minf.hdlr;
            EXPECT_EQ(std::string(hdlr.componentName), c.expected) << where;
            EXPECT_TRUE(frameOk(o, 0) && frameOk(o, 1));
        }
    }
}

TEST(HostileDescriptions, D5_DataReferences) {
    for (uint32_t size : {4u, 0u, 0xFFFFFFFFu}) {
        Movie m = baselineMovie();
        Bytes dref = drefBody();
        dref[8] = size >> 24;
        dref[9] = size >> 16;
        dref[10] = size >> 8;
        dref[11] = size;
        m.find("trak/mdia/minf/dinf/dref")->data = dref;
        OpenedMovie o(m);
        EXPECT_TRUE(o.refused()) << size;
    }
    Movie m = baselineMovie();
    Bytes dref = drefBody();
    dref[4] = dref[5] = dref[6] = dref[7] = 0xFF;
    m.find("trak/mdia/minf/dinf/dref")->data = dref;
    OpenedMovie o(m);
    EXPECT_TRUE(o.refused());
}

TEST(HostileDescriptions, D6_ColourTableSize) {
    Movie inEntry = baselineMovie();
    table(inEntry, "stsd")->children[0].add(atom("ctab", ctabBody(0xFFFF, 2)));
    OpenedMovie a(inEntry);
    EXPECT_TRUE(a.refused());

    Movie inMoov = baselineMovie();
    inMoov.moov().add(atom("ctab", ctabBody(0xFFFF, 2)));
    OpenedMovie b(inMoov);
    EXPECT_TRUE(b.refused());
}

TEST(HostileDimensions, V1V2_TrackSizesAreReportedAsStored) {
    struct {
        double w, h;
        int ew, eh;
    } cases[] = {{0, 0, 0, 0}, {8, 0, 8, 0}, {65535.99, 65535.99, 65535, 65535}};
    for (auto& c : cases) {
        Movie m = baselineMovie();
        m.find("trak/tkhd")->data = tkhdBody(c.w, c.h);
        OpenedMovie o(m);
        ASSERT_TRUE(o.opened());
        int w, h;
        o.movie.frameSize(w, h);
        EXPECT_EQ(w, c.ew);
        EXPECT_EQ(h, c.eh);
    }
}

// Mend: a track whose tables place no sample in a chunk answers every frame
// query with "no such frame", whatever the frame number.
TEST(HostileTables, UnaddressableTracksFailSafe) {
    Movie empty = baselineMovie();
    table(empty, "stsc")->data = stscBody({});
    Movie disagree = baselineMovie();
    table(disagree, "co64")->data = co64Body({16});
    for (Movie* m : {&empty, &disagree}) {
        OpenedMovie o(*m);
        ASSERT_TRUE(o.opened());
        EXPECT_EQ(o.movie.nFrames(), 2);
        for (long long f : {-1ll, 1ll, 2ll, (long long)INT_MAX, LLONG_MAX, LLONG_MIN})
            EXPECT_EQ(o.movie.frameOffset(f), -1) << f;
        EXPECT_EQ(o.movie.frameSize(-5), 0);
        EXPECT_EQ(o.movie.frameSize(INT_MAX), 0);
        unsigned char buf[60];
        EXPECT_EQ(o.movie.readFrame(7, buf), 0);
    }
}
