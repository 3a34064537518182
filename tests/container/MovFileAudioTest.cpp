// The audio side of MovFile: queries, reads across chunks, channel decoding.
#include <gtest/gtest.h>

#include <vector>

#include "OpenedMovie.h"

using namespace keotest;

namespace {

// A movie whose mdat holds `chunks` of one sound track (and, with `video`,
// the two baseline frames in front of them).
Movie soundMovie(SoundTrack s, const std::vector<Bytes>& chunks, bool video = true,
                 uint32_t videoScale = 600, uint32_t frameDuration = 24) {
    Movie m = baselineMovie();
    Atom& mdat = m.mdat();
    uint64_t at = 16 + mdat.data.size();
    s.tables.offsets.clear();
    uint32_t total = 0;
    for (const Bytes& c : chunks) {
        s.tables.offsets.push_back(at);
        at += c.size();
        append(mdat.data, c);
    }
    total = s.tables.sampleCount;
    if (s.tables.stts.empty())
        s.tables.stts = {{total, 1}};
    s.tables.sampleSize = 1;
    m.find("trak/mdia/mdhd")->data = mdhdBody(videoScale);
    m.find("trak/mdia/minf/stbl/stts")->data = sttsBody({{2, frameDuration}});
    if (!video)
        m.moov().children.pop_back();
    m.moov().add(soundTrak(s, 2));
    return m;
}

SoundTrack track(const char* format, uint16_t channels, uint16_t bits, uint32_t samples,
                 uint32_t perChunk, uint32_t rate = 44100) {
    SoundTrack s;
    s.format = format;
    s.channels = channels;
    s.bits = bits;
    s.rate = rate;
    s.tables.sampleCount = samples;
    s.tables.stsc = {{1, perChunk, 1}};
    return s;
}

Bytes readAll(OpenedMovie& o, long first, long n, int bytesPerFrame, long long* got) {
    Bytes out(static_cast<size_t>(n * bytesPerFrame) + 1, 0xEE);
    *got = o.movie.readAudio(reinterpret_cast<char*>(out.data()), first, n, 0);
    out.pop_back();
    return out;
}

} // namespace

TEST(MovFileAudio, QueriesOfTheBaselineTrack) {
    OpenedMovie o(baselineMovie(true));
    ASSERT_TRUE(o.opened());
    EXPECT_TRUE(o.movie.hasAudio());
    EXPECT_TRUE(o.movie.containsAudio());
    EXPECT_EQ(o.movie.audioTracks(), 1);
    EXPECT_EQ(o.movie.audioTrackNumberOfChannels(0), 2);
    EXPECT_EQ(o.movie.audioTrackNumberOfChannels(1), 0);
    EXPECT_EQ(o.movie.audioTrackSampleRate(0), 44100);
    EXPECT_EQ(o.movie.audioTrackAudioBits(0), 16);
    EXPECT_EQ(o.movie.audioTrackNumberOfSamples(0), 200);
    EXPECT_STREQ(o.movie.audioType(), "twos");
    EXPECT_FALSE(o.movie.audioBigEndian());
    // The interleaved audio chunks leave the video where the tables say.
    EXPECT_EQ(o.frameBytes(1), dxt1Frame(1));
}

TEST(MovFileAudio, ReadsAcrossInterleavedChunks) {
    OpenedMovie o(baselineMovie(true));
    long long got;
    EXPECT_EQ(readAll(o, 0, 200, 4, &got), audioChunk(0, 200));
    EXPECT_EQ(got, 800);
    EXPECT_EQ(o.movie.file->audioMaps[0].currentPosition, 200);
    // Starting inside a chunk and ending inside the next.
    EXPECT_EQ(readAll(o, 90, 20, 4, &got), audioChunk(90, 20));
    EXPECT_EQ(got, 80);
    EXPECT_EQ(readAll(o, 150, 10, 4, &got), audioChunk(150, 10));
}

TEST(MovFileAudio, ZeroSamplesReadNothing) {
    OpenedMovie o(baselineMovie(true));
    o.movie.setAudioPosition(o.movie.file, 42, 0);
    char buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(o.movie.readAudio(o.movie.file, buf, 0, 0), 0);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(o.movie.file->audioMaps[0].currentPosition, 42);
}

TEST(MovFileAudio, ByteOrderFollowsTheFormat) {
    for (auto [format, little] : {std::pair{"sowt", true},
                                  {"SOWT", true},
                                  {"sOwT", true},
                                  {"twos", false},
                                  {"raw ", false}}) {
        OpenedMovie o(soundMovie(track(format, 2, 16, 4, 4), {Bytes(16, 0)}));
        ASSERT_TRUE(o.opened());
        EXPECT_EQ(o.movie.audioBigEndian(), little) << format;
    }
    OpenedMovie none(baselineMovie());
    EXPECT_STREQ(none.movie.audioType(), "");
    EXPECT_FALSE(none.movie.audioBigEndian());
}

TEST(MovFileAudio, TwosDecodeValues) {
    uint16_t out[2] = {0, 0};
    {
        OpenedMovie o(soundMovie(track("twos", 2, 16, 1, 1), {{0x12, 0x34, 0x56, 0x78}}));
        EXPECT_EQ(o.movie.audioTwosDecode(o.movie.file, out, 1, 0, 1), 0);
        EXPECT_EQ(out[0], 0x5678);
        EXPECT_EQ(o.movie.file->audioMaps[0].currentPosition, 0); // stepped back
    }
    {
        OpenedMovie o(
            soundMovie(track("twos", 2, 24, 1, 1), {{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}}));
        o.movie.audioTwosDecode(o.movie.file, out, 1, 0, 0);
        EXPECT_EQ(out[0], 0x1234);
        o.movie.audioTwosDecode(o.movie.file, out, 1, 0, 1);
        EXPECT_EQ(out[0], 0x789A);
    }
    {
        OpenedMovie o(soundMovie(track("twos", 1, 8, 2, 2), {{0x80, 0xFF}}));
        o.movie.audioTwosDecode(o.movie.file, out, 2, 0, 0);
        EXPECT_EQ(out[0], 0x8000);
        EXPECT_EQ(out[1], 0xFF00);
    }
    {
        // Hardened: 32-bit samples pass on their top 16 bits like 24-bit ones.
        OpenedMovie o(soundMovie(track("twos", 1, 32, 1, 1), {{0xAB, 0xCD, 0xEF, 0x01}}));
        o.movie.audioTwosDecode(o.movie.file, out, 1, 0, 0);
        EXPECT_EQ(out[0], 0xABCD);
    }
}

TEST(MovFileAudio, ChannelLocationOverTracks) {
    Movie m = soundMovie(track("twos", 2, 16, 4, 4), {Bytes(16, 0)});
    Atom second = m.moov().children.back();
    m.moov().add(second);
    OpenedMovie o(m);
    ASSERT_EQ(o.movie.audioTracks(), 2);
    int t, c;
    o.movie.audioChannelLocation(o.movie.file, &t, &c, 3);
    EXPECT_EQ(t, 1);
    EXPECT_EQ(c, 1);
    o.movie.audioChannelLocation(o.movie.file, &t, &c, 5);
    EXPECT_EQ(t, 1);
    EXPECT_EQ(c, 3);
    o.movie.audioChannelLocation(o.movie.file, &t, &c, 1);
    EXPECT_EQ(t, 0);
    EXPECT_EQ(c, 1);
}

TEST(MovFileAudio, AudioOfOneVideoFrameTilesTheTrack) {
    const int samples = 3300;
    Bytes data;
    for (int i = 0; i < samples; i++) {
        put16(data, static_cast<uint16_t>(i));
        put16(data, static_cast<uint16_t>(0x8000 + i));
    }
    OpenedMovie o(
        soundMovie(track("twos", 2, 16, samples, samples, 48000), {data}, true, 30000, 1001));
    ASSERT_TRUE(o.opened());
    int count = -1;
    uint16_t* f0 = o.movie.getAudioData(0, count);
    EXPECT_EQ(count, 1601);
    EXPECT_EQ(f0[0], 0);
    EXPECT_EQ(f0[1], 0x8000);
    EXPECT_EQ(f0[2 * 1600], 1600);
    delete[] f0;
    uint16_t* f1 = o.movie.getAudioData(1, count);
    EXPECT_EQ(count, 1602);
    EXPECT_EQ(f1[0], 1601);
    EXPECT_EQ(f1[2 * 1601 + 1], 0x8000 + 3202);
    delete[] f1;
}

// Hardened: without a video track there is no frame rate to divide by.
TEST(MovFileAudio, AudioOfAFrameWithoutVideoIsEmpty) {
    OpenedMovie o(soundMovie(track("twos", 2, 16, 4, 4), {Bytes(16, 0)}, false));
    ASSERT_TRUE(o.opened());
    int count = -1;
    uint16_t* data = o.movie.getAudioData(0, count);
    EXPECT_EQ(count, 0);
    delete[] data;
}

// Hardened: a chunk of 0 samples or a missing sample-to-chunk table ends a read.
TEST(MovFileAudio, ReadsEndAtEmptyChunks) {
    SoundTrack s = track("twos", 2, 16, 200, 100);
    s.tables.stsc = {{1, 100, 1}, {2, 0, 1}};
    OpenedMovie o(soundMovie(s, {audioChunk(0, 100), audioChunk(100, 100)}));
    long long got;
    Bytes out = readAll(o, 0, 200, 4, &got);
    EXPECT_EQ(got, 400);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 400), audioChunk(0, 100));

    SoundTrack none = track("twos", 2, 16, 200, 100);
    none.tables.stsc = {};
    OpenedMovie n(soundMovie(none, {audioChunk(0, 100)}));
    readAll(n, 0, 50, 4, &got);
    EXPECT_EQ(got, 0);
}

// Hardened: sample widths the reader cannot size, and tracks without channels,
// read nothing.
TEST(MovFileAudio, UnreadableFormatsReadNothing) {
    for (auto [channels, bits] :
         {std::pair<uint16_t, uint16_t>{1, 12}, {1, 4}, {0, 16}, {65535, 65535}}) {
        OpenedMovie o(soundMovie(track("twos", channels, bits, 8, 8), {Bytes(64, 1)}));
        ASSERT_TRUE(o.opened());
        long long got = -1;
        Bytes out = readAll(o, 0, 8, 0, &got);
        EXPECT_EQ(got, 0) << channels << "x" << bits;
        uint16_t value = 7;
        EXPECT_EQ(o.movie.audioTwosDecode(o.movie.file, &value, 1, 0, 0), 1);
        EXPECT_EQ(value, 7);
    }
}

// Hardened: a mono track's sample offsets inside a chunk count one channel.
TEST(MovFileAudio, MonoOffsetsInsideAChunk) {
    Bytes data;
    for (int i = 0; i < 50; i++)
        put16(data, static_cast<uint16_t>(1000 + i));
    OpenedMovie o(soundMovie(track("twos", 1, 16, 50, 50), {data}));
    long long got;
    Bytes out = readAll(o, 10, 5, 2, &got);
    EXPECT_EQ(got, 10);
    EXPECT_EQ(out, Bytes(data.begin() + 20, data.begin() + 30));
}
