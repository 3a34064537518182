// The movie tree: which atoms each parent reads, skips or refuses, and the
// top-level walk that finds moov and mdat.
#include <gtest/gtest.h>

#include "OpenedMovie.h"

using namespace keotest;

namespace {

QuicktimeTrak* track(OpenedMovie& m, int i) {
    return m.movie.file->moov.trak[i];
}

// A movie of n frames of 60 bytes, one per chunk, moov after mdat.
Movie framesMovie(int n) {
    Movie m = baselineMovie();
    Atom& mdat = m.mdat();
    mdat.data.clear();
    VideoTrack v;
    v.tables.stts = {{static_cast<uint32_t>(n), 24}};
    v.tables.stsc = {{1, 1, 1}};
    for (int i = 0; i < n; i++) {
        v.tables.sizes.push_back(60);
        v.tables.offsets.push_back(16 + 60ull * i);
        append(mdat.data, dxt1Frame(static_cast<uint8_t>(i)));
    }
    *m.find("trak") = videoTrak(v);
    return m;
}

} // namespace

TEST(MovieTree, LeadingAtomLargeMdatAndAHundredFrames) {
    Movie m = framesMovie(100);
    m.top.insert(m.top.begin(), atom("free", Bytes(20, 0)));
    shiftChunkOffsets(m.moov(), 28);
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_EQ(o.movie.nFrames(), 100);
    EXPECT_EQ(o.frameBytes(99), dxt1Frame(99));
}

TEST(MovieTree, MoovBeforeMdatGivesTheSameAnswers) {
    Movie m = baselineMovie(true);
    m.moveMoovFirst();
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_EQ(o.movie.nFrames(), 2);
    EXPECT_EQ(o.frameBytes(0), dxt1Frame(0));
    EXPECT_EQ(o.frameBytes(1), dxt1Frame(1));
    EXPECT_EQ(o.movie.audioTrackNumberOfSamples(0), 200);
}

TEST(MovieTree, UnknownChildrenAreSkipped) {
    Movie m = baselineMovie();
    m.moov().prepend(atom("abcd", Bytes(13, 0xFF)));
    Atom* trak = m.find("trak");
    trak->children.erase(trak->children.begin() + 1); // no edts
    trak->add(atom("clip", Bytes(10, 1)));
    m.find("trak/mdia/minf")->prepend(atom("gmhd", Bytes(4, 0)));
    m.moov().add(atom("udta", {}, {atom("name", Bytes(3, 'x'))}));
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_EQ(o.movie.nFrames(), 2);
    EXPECT_EQ(track(o, 0)->edts.elst.totalEntries, 0);
    EXPECT_STREQ(track(o, 0)->mdia.hdlr.componentName, "ZU Video Media Handler");
    EXPECT_STREQ(track(o, 0)->mdia.minf.hdlr.componentName, "ZU Video Media Handler");
}

TEST(MovieTree, TrackHeaderSizesEditsAndDataReferences) {
    Movie m = baselineMovie();
    m.find("trak/tkhd")->data = tkhdBody(100.5, 360.0);
    m.find("trak/edts/elst")->data = elstBody({{600, 0xFFFFFFFF, 0x10000}});
    Bytes dref;
    put32(dref, 0);
    put32(dref, 2);
    append(dref, Bytes{0, 0, 0, 12, 'a', 'l', 'i', 's', 0, 0, 0, 1});
    append(dref, Bytes{0, 0, 0, 20, 'u', 'r', 'l', ' ', 0, 0, 0, 0});
    append(dref, Bytes{'f', 'i', 'l', 'e', ':', '/', '/', 'x'});
    m.find("trak/mdia/minf/dinf/dref")->data = dref;
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    int w, h;
    o.movie.frameSize(w, h);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 360);
    const QuicktimeELST& elst = track(o, 0)->edts.elst;
    ASSERT_EQ(elst.totalEntries, 1);
    EXPECT_EQ(elst.table[0].time, 4294967295ll);
    EXPECT_FLOAT_EQ(elst.table[0].rate, 1.0f);
    const QuicktimeDRef& d = track(o, 0)->mdia.minf.dinf.dref;
    ASSERT_EQ(d.totalEntries, 2);
    EXPECT_STREQ(d.table[0].dataReference, "");
    EXPECT_STREQ(d.table[1].dataReference, "file://x");
}

TEST(MovieTree, NonZuvmVideoIsRefusedWithOkFalse) {
    for (const char* format : {"avc1", "zuvm", "ZUV "}) {
        Movie m = baselineMovie();
        m.find("trak/mdia/minf/stbl/stsd")->children[0].type = format;
        OpenedMovie o(m);
        EXPECT_FALSE(o.opened()) << format;
        EXPECT_FALSE(o.movie.ok) << format;
        EXPECT_EQ(o.movie.file, nullptr);
        EXPECT_EQ(o.movie.close(), 0); // closing a refused movie does nothing
    }
}

TEST(MovieTree, TimecodeLikeTrackIsInNoMap) {
    Movie m = baselineMovie();
    Atom tmcd = videoTrak(VideoTrack{});
    Atom* minf = tmcd.find("mdia/minf");
    minf->children.erase(minf->children.begin()); // no vmhd
    minf->find("stbl/stsd")->children[0].type = "tmcd";
    m.moov().children.insert(m.moov().children.begin() + 1, tmcd);
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_EQ(o.movie.file->moov.totalTracks, 2);
    EXPECT_EQ(o.movie.file->totalVideoTracks, 1);
    EXPECT_EQ(o.movie.file->totalAudioTracks, 0);
    EXPECT_EQ(o.movie.videoTracks(o.movie.file), 1);
    EXPECT_EQ(o.movie.frameOffset(1), 76);
}

TEST(MovieTree, TwoVideoTracksAnswerForTheFirst) {
    Movie m = baselineMovie();
    VideoTrack second;
    second.width = 320;
    second.tables.stts = {{5, 10}};
    second.tables.stsc = {{1, 5, 1}};
    second.tables.sizes = {1, 1, 1, 1, 1};
    second.tables.offsets = {16};
    m.moov().add(videoTrak(second, 2));
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_EQ(o.movie.file->totalVideoTracks, 2);
    EXPECT_EQ(o.movie.nFrames(), 2);
    int w, h;
    o.movie.frameSize(w, h);
    EXPECT_EQ(w, 8);
}

TEST(MovieTree, CmovChildrenAreReadAsMoovChildren) {
    Movie m = baselineMovie();
    Atom trak = m.moov().children[1];
    m.moov().children.pop_back();
    m.moov().add(atom("cmov", {}, {atom("dcom", Bytes(4, 'z')), trak}));
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_EQ(o.movie.nFrames(), 2);
}

TEST(MovieTree, TopLevelTypeWithADigitEndsTheWalk) {
    Movie m = baselineMovie();
    m.top.insert(m.top.begin() + 1, atom("1abc", Bytes(4, 0)));
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_EQ(o.movie.nFrames(), 0);
    EXPECT_EQ(o.movie.file->moov.totalTracks, 0);
}

TEST(MovieTree, NoMoovOpensWithoutFrames) {
    Movie m = baselineMovie();
    m.top.pop_back();
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_EQ(o.movie.nFrames(), 0);
    EXPECT_STREQ(o.movie.frameType(), "");
    EXPECT_EQ(o.movie.frameOffset(0), -1);
    EXPECT_EQ(o.movie.frameSize(0), 0);
    EXPECT_EQ(o.movie.file->mdat.start, 0);
    EXPECT_EQ(o.movie.file->mdat.size, 16 + 120);
}

TEST(MovieTree, AudioOnlyMovie) {
    Movie m = baselineMovie(true);
    m.moov().children.erase(m.moov().children.begin() + 1);
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_EQ(o.movie.nFrames(), 0);
    EXPECT_STREQ(o.movie.frameType(), "");
    EXPECT_EQ(o.movie.file->totalAudioTracks, 1);
    int n, d;
    o.movie.frameRate(n, d);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(d, 0);
}

TEST(MovieTree, MissingFileIsNotRefusal) {
    MovFile movie;
    EXPECT_EQ(movie.openRead("/nonexistent/keo.mov"), nullptr);
    EXPECT_TRUE(movie.ok);
    EXPECT_EQ(movie.file, nullptr);
}

TEST(MovieTree, RepeatedMoovAddsItsTracks) {
    Movie m = baselineMovie();
    m.top.push_back(m.moov());
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_EQ(o.movie.file->moov.totalTracks, 2);
    EXPECT_EQ(o.movie.nFrames(), 2);
}
