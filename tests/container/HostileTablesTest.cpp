// Hostile sample tables, descriptions and track sizes read by the container
// alone: counts that cannot fit, products that wrap, samples and chunks
// outside the file, zero durations and time scales, descriptions that
// overrun their atoms. Most movies are those of support/HostileCases.h,
// which the plug-in's fault tests drive through the importer.
#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <string>

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

// Each case is refused by the reader itself, before the importer sees it.
void expectRefused(std::initializer_list<std::string> ids) {
    for (const std::string& id : ids) {
        HostileMovie o(id);
        EXPECT_TRUE(o.refused()) << id;
    }
}

} // namespace

// Counts the atom cannot back: refused before anything is allocated.
TEST(HostileTables, CountsThatCannotFit) {
    expectRefused({"stts-count-huge", "stsz-count-huge", "elst-count-huge"});
}

// Counts whose size in bytes wraps 32 bits to one that seems to fit.
TEST(HostileTables, CountTimesSizeWrapsThirtyTwoBits) {
    expectRefused({"stsc-count-wraps", "stco-count-wraps", "stsz-count-wraps"});
}

// One size for 0xFFFFFFFF samples needs no table: the frames the chunks hold
// read, the others fail, and the track's duration cannot be computed.
TEST(HostileTables, ConstantSizeHugeCount) {
    HostileMovie o("stsz-constant-count-huge");
    if (o.opened()) {
        EXPECT_TRUE(frameOk(o, 0) && frameOk(o, 1) && frameFails(o, 2));
        int64_t d, ts;
        EXPECT_EQ(o.movie.file->videoMaps[0].track->duration(&d, &ts), 0);
    } else {
        EXPECT_TRUE(o.refused());
    }
}

// A sample past the end of the file fails alone.
TEST(HostileTables, SamplesReachingPastTheFile) {
    for (const char* id : {"sample-size-2147483648", "sample-size-1060"}) {
        HostileMovie o(id);
        ASSERT_TRUE(o.opened()) << id;
        EXPECT_TRUE(frameOk(o, 0));
        EXPECT_TRUE(frameFails(o, 1)) << id;
    }
}

// First chunks that place no sample: refused, or every frame fails.
TEST(HostileTables, BadFirstChunks) {
    for (const char* id :
         {"stsc-first-chunk-0", "stsc-first-chunks-unordered", "stsc-first-chunk-beyond"}) {
        HostileMovie o(id);
        EXPECT_TRUE(o.refused() || (frameFails(o, 0) && frameFails(o, 1))) << id;
    }
}

// No sample in any chunk: every frame fails, and nothing divides by the 0.
TEST(HostileTables, ZeroSamplesPerChunk) {
    HostileMovie o("stsc-0-samples-per-chunk");
    ASSERT_TRUE(o.opened());
    EXPECT_TRUE(frameFails(o, 0));
    EXPECT_TRUE(frameFails(o, 1));
}

// A chunk past the end fails its frame; one that no sample uses is ignored.
TEST(HostileTables, ChunkOffsetPastTheEnd) {
    HostileMovie o("chunk-offset-past-end");
    ASSERT_TRUE(o.opened());
    EXPECT_TRUE(frameOk(o, 0));
    EXPECT_TRUE(frameFails(o, 1));

    HostileMovie c("unused-chunk-offset-past-end");
    EXPECT_TRUE(frameOk(c, 0) && frameOk(c, 1));
}

// Frames that all last 0 give no rate (the importer answers "no video");
// a last frame of 0 leaves the rate of the first entry.
TEST(HostileTables, ZeroDurations) {
    HostileMovie o("stts-duration-0");
    ASSERT_TRUE(o.opened());
    int n, d;
    o.movie.frameRate(n, d);
    EXPECT_EQ(d, 0); // the importer answers "no video" on this
    EXPECT_EQ(o.movie.frameRate(), 0.0f);
    EXPECT_EQ(o.movie.file->videoMaps[0].track->samples(o.movie.file, o.movie), 0);

    HostileMovie c("stts-last-duration-0");
    c.movie.frameRate(n, d);
    EXPECT_EQ(d, 24);
    EXPECT_TRUE(frameOk(c, 0) && frameOk(c, 1));
}

// The track's time scale of 0 gives no rate; the movie's is not used for it.
TEST(HostileTables, ZeroTimeScales) {
    HostileMovie o("mdhd-time-scale-0");
    int n, d;
    o.movie.frameRate(n, d);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(o.movie.frameRate(), 0.0f);

    HostileMovie c("mvhd-time-scale-0");
    c.movie.frameRate(n, d);
    EXPECT_EQ(n, 600);
    EXPECT_TRUE(frameOk(c, 0) && frameOk(c, 1));
}

TEST(HostileDescriptions, HugeEntryCount) {
    expectRefused({"stsd-count-huge"});
}

// Descriptions too short for their fields or reaching past stsd.
TEST(HostileDescriptions, EntrySizes) {
    expectRefused({"stsd-entry-size-0", "stsd-entry-size-8", "stsd-entry-size-15",
                   "stsd-entry-size-40", "stsd-entry-size-186"});
}

// A length byte of 255 over a 32-byte field: the name is cut to the field.
TEST(HostileDescriptions, CompressorNameWithFullLengthByte) {
    HostileMovie o("compressor-name-length-255");
    ASSERT_TRUE(o.opened());
    const QuicktimeSTSDTable* d = o.movie.firstVideoDescription();
    EXPECT_EQ(std::string(d->compressorName), std::string(31, 'A'));
    EXPECT_EQ(d->depth, 24);
}

// Hardened: the handler name is only shown, so a name that is not a Pascal
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

// Data references whose sizes or count disagree with dref.
TEST(HostileDescriptions, DataReferences) {
    expectRefused({"dref-entry-size-4", "dref-entry-size-0", "dref-entry-size-4294967295",
                   "dref-count-huge"});
}

// Colour tables that claim more entries than they hold, wherever they stand.
TEST(HostileDescriptions, ColourTableSize) {
    expectRefused({"ctab-huge-in-description", "ctab-huge-in-moov"});
}

// The container reports the size tkhd stores, however useless; refusing a
// picture that cannot be decoded is the importer's answer, not the reader's.
TEST(HostileDimensions, TrackSizesAreReportedAsStored) {
    struct {
        const char* id;
        int ew, eh;
    } cases[] = {
        {"track-size-0x0", 0, 0}, {"track-size-8x0", 8, 0}, {"track-size-largest", 65535, 65535}};
    for (auto& c : cases) {
        HostileMovie o(c.id);
        ASSERT_TRUE(o.opened()) << c.id;
        int w, h;
        o.movie.frameSize(w, h);
        EXPECT_EQ(w, c.ew);
        EXPECT_EQ(h, c.eh);
    }
}

// Hardened: a track whose tables place no sample in a chunk answers every frame
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
