// Sample descriptions: video fields and extensions, sound layouts and rates.
#include <gtest/gtest.h>

#include "OpenedMovie.h"

using namespace keotest;

namespace {

const QuicktimeSTSDTable& firstEntry(OpenedMovie& o, int trackIndex) {
    return o.movie.file->moov.trak[trackIndex]->mdia.minf.stbl.stsd.table[0];
}

Atom& videoEntryOf(Movie& m) {
    return m.find("trak/mdia/minf/stbl/stsd")->children[0];
}

Movie withSound(uint16_t channels, uint16_t bits, uint32_t rate, uint16_t version,
                const char* format = "twos") {
    Movie m = baselineMovie(true);
    m.find("trak#1/mdia/minf/stbl/stsd")->children[0] =
        soundEntry(format, channels, bits, rate, version);
    return m;
}

} // namespace

TEST(SampleDescription, VideoFieldsAndDefaults) {
    Movie m = baselineMovie();
    videoEntryOf(m) = videoEntry("ZUVM", 1920, 1080, 32);
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    const QuicktimeSTSDTable& e = firstEntry(o, 0);
    EXPECT_EQ(e.width, 1920);
    EXPECT_EQ(e.height, 1080);
    EXPECT_EQ(o.movie.frameBitDepth(), 32);
    EXPECT_EQ(e.ctabId, 65535);
    EXPECT_FLOAT_EQ(e.dpiHorizontal, 72.0f);
    EXPECT_STREQ(e.compressorName, "KEO");
    EXPECT_EQ(e.fields, 0);
    EXPECT_EQ(e.fieldDominance, 1);
}

TEST(SampleDescription, VideoExtensions) {
    Movie m = baselineMovie();
    Atom& e = videoEntryOf(m);
    e.add(atom("fiel", {2, 1}));
    e.add(atom("gama", {0, 2, 0x80, 0}));
    e.add(atom("ctab", ctabBody(1, 2)));
    e.add(atom("skip", Bytes(3, 9)));
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    const QuicktimeSTSDTable& d = firstEntry(o, 0);
    EXPECT_EQ(d.fields, 2);
    EXPECT_EQ(d.fieldDominance, 1);
    EXPECT_FLOAT_EQ(d.gamma, 2.5f);
    ASSERT_EQ(d.ctab.size, 2);
    EXPECT_EQ(d.ctab.red[1], 0x2222);
}

TEST(SampleDescription, CompressorNameIgnoresItsLengthByte) {
    Movie m = baselineMovie();
    Atom& e = videoEntryOf(m);
    e.data[8 + 34] = 5;        // length byte claims 5
    e.data[8 + 34 + 31] = 'Z'; // the 31st byte after it
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    const QuicktimeSTSDTable& d = firstEntry(o, 0);
    EXPECT_EQ(d.compressorName[30], 'Z');
    EXPECT_EQ(d.compressorName[31], 0);
    EXPECT_EQ(d.depth, 24); // the fields after the name are where they belong
}

TEST(SampleDescription, NonVideoTrackOfAnyFormatIsAccepted) {
    OpenedMovie o(withSound(2, 16, 44100, 0, "XXXX"));
    ASSERT_TRUE(o.opened());
    EXPECT_STREQ(o.movie.audioType(), "XXXX");
}

TEST(SampleDescription, WrappedRatesAreRecognised) {
    struct {
        uint32_t stored;
        long long rate;
    } cases[] = {{22664, 88200}, {30464, 96000}, {48000, 48000}, {8000, 8000}};
    for (auto& c : cases) {
        OpenedMovie o(withSound(2, 16, c.stored, 0));
        ASSERT_TRUE(o.opened());
        EXPECT_EQ(o.movie.audioTrackSampleRate(0), c.rate) << c.stored;
    }
}

TEST(SampleDescription, SoundVersionOneFields) {
    OpenedMovie v1(withSound(2, 24, 48000, 1));
    ASSERT_TRUE(v1.opened());
    const QuicktimeSTSDTable& d = firstEntry(v1, 1);
    EXPECT_EQ(d.samplesPerPacket, 1);
    EXPECT_EQ(d.bytesPerPacket, 6);
    EXPECT_EQ(d.bytesPerFrame, 6);
    EXPECT_EQ(d.bytesPerSample, 3);
    EXPECT_EQ(v1.movie.audioTrackBytesPerPacket(0), 6);
    EXPECT_EQ(v1.movie.audioTrackBytesPerSample(0), 3);

    OpenedMovie v0(withSound(2, 16, 48000, 0));
    EXPECT_EQ(firstEntry(v0, 1).bytesPerSample, 0);
    EXPECT_EQ(v0.movie.audioTrackBytesPerPacket(0), 2);
}

TEST(SampleDescription, EmptyDescriptionTable) {
    Movie m = baselineMovie();
    *m.find("trak/mdia/minf/stbl/stsd") = stsdAtom({});
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_STREQ(o.movie.frameType(), "");
    EXPECT_EQ(o.movie.frameBitDepth(), 0);
}

TEST(SampleDescription, FormatTextRunsIntoNonZeroReserved) {
    Movie m = baselineMovie();
    videoEntryOf(m).data[0] = 'x';
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    EXPECT_STREQ(o.movie.frameType(), "ZUVMx");
}

TEST(SampleDescription, SecondEntryIsReadAtItsOwnStart) {
    // Hardened: each entry is read from its own start, even when the one before
    // it carries extension bytes the reader does not know.
    Movie m = withSound(2, 16, 44100, 0);
    Atom* stsd = m.find("trak#1/mdia/minf/stbl/stsd");
    stsd->children[0].add(atom("wave", Bytes(12, 0)));
    stsd->add(soundEntry("sowt", 1, 8, 22050));
    *stsd = stsdAtom(stsd->children);
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    const QuicktimeSTSD& d = o.movie.file->moov.trak[1]->mdia.minf.stbl.stsd;
    ASSERT_EQ(d.totalEntries, 2);
    EXPECT_TRUE(MovFile::match32(d.table[1].format, "sowt"));
    EXPECT_EQ(d.table[1].channels, 1);
    EXPECT_FLOAT_EQ(d.table[1].sampleRate, 22050.0f);
}
