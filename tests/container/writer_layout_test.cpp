// The bytes of written movies, read back independently of the container:
// the media-data layout, every atom's size and the header fields a new
// movie carries.
#include <gtest/gtest.h>

#include <cstring>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "writer_support.h"

using namespace writertest;

namespace {

const std::string kStbl = "moov/trak/mdia/minf/stbl/";

// Writes a 1920x1080 video track at 25 fps with two frames and, when asked,
// a 48 kHz stereo 16-bit audio track with one block of 100 sample frames.
Bytes writeHdMovie(const TempMovie& temp, bool withAudio) {
    MovFile movie;
    char compressor[] = "ZUVM";
    EXPECT_NE(movie.openWrite(temp.path.c_str(), compressor, 1920, 1080, {25, 1}, 1,
                              withAudio ? 1 : 0, 48000, 2, 16),
              nullptr);
    Bytes frame = pattern(40, 1);
    EXPECT_EQ(movie.writeFrame(0, 40, frame.data()), 0);
    if (withAudio) {
        Bytes block = pattern(400, 2);
        LargeFp* fp = movie.prepareToWriteAudioSample();
        EXPECT_NE(fp, nullptr);
        fwrite_L(block.data(), block.size(), 1, fp);
        EXPECT_EQ(movie.endWriteAudioSample(100), 0);
    }
    EXPECT_EQ(movie.writeFrame(0, 40, frame.data()), 0);
    EXPECT_EQ(movie.close(), 0);
    return readFile(temp.path);
}

} // namespace

TEST(WriterLayout, ThreeFramesAt25Fps) {
    TempMovie temp;
    ASSERT_EQ(writeVideoMovie(temp.path, {100, 200, 300}, {25, 1}), 0);
    Bytes f = readFile(temp.path);

    // The 64-bit mdat header, its size patched to where the moov begins.
    EXPECT_EQ(be(f, 0, 4), 1u);
    EXPECT_EQ(text(f, 4, 4), "mdat");
    EXPECT_EQ(be(f, 8, 8), 616u);
    EXPECT_EQ(Bytes(f.begin() + 16, f.begin() + 116), pattern(100, 0));
    EXPECT_EQ(Bytes(f.begin() + 116, f.begin() + 316), pattern(200, 1));
    EXPECT_EQ(Bytes(f.begin() + 316, f.begin() + 616), pattern(300, 2));
    Span moov = find(f, "moov");
    ASSERT_TRUE(moov.found);
    EXPECT_EQ(moov.start, 616u);
    EXPECT_EQ(moov.end(), f.size()); // the moov ends the file

    Span mvhd = find(f, "moov/mvhd");
    EXPECT_EQ(be(f, mvhd.start + 20, 4), 600u); // time scale
    EXPECT_EQ(be(f, mvhd.start + 24, 4), 72u);  // duration
    EXPECT_EQ(be(f, mvhd.start + 96, 4), 72u);  // selection duration
    EXPECT_EQ(be(f, find(f, "moov/trak/tkhd").start + 28, 4), 72u);
    EXPECT_EQ(be(f, find(f, "moov/trak/edts/elst").start + 16, 4), 72u);
    Span mdhd = find(f, "moov/trak/mdia/mdhd");
    EXPECT_EQ(be(f, mdhd.start + 20, 4), 600u);
    EXPECT_EQ(be(f, mdhd.start + 24, 4), 72u);

    // Counts first, then the entries.
    EXPECT_EQ(fields(f, find(f, kStbl + "stts"), 12, 4, 3), (Fields{1, 3, 24}));
    EXPECT_EQ(fields(f, find(f, kStbl + "stsc"), 12, 4, 4), (Fields{1, 1, 1, 1}));
    // Sample size 0: a size per sample follows.
    EXPECT_EQ(fields(f, find(f, kStbl + "stsz"), 12, 4, 5), (Fields{0, 3, 100, 200, 300}));
    EXPECT_EQ(chunkOffsets(f, find(f, kStbl + "co64")), (Fields{16, 116, 316}));
}

TEST(WriterLayout, AtomSizesFollowTheFormula) {
    const uint64_t L = std::strlen(kQuicktimeCreditText);
    for (size_t frames : {0u, 1u, 5u}) {
        SCOPED_TRACE(frames);
        TempMovie temp;
        ASSERT_EQ(writeVideoMovie(temp.path, std::vector<size_t>(frames, 10), {25, 1}), 0);
        Bytes f = readFile(temp.path);
        const uint64_t F = frames;
        const struct {
            const char* path;
            uint64_t size;
        } expected[] = {
            {"moov/mvhd", 108},
            {"moov/udta", 8 + 12 + L},
            {"moov/trak/tkhd", 92},
            {"moov/trak/edts", 36},
            {"moov/trak/edts/elst", 28},
            {"moov/trak/mdia/mdhd", 32},
            {"moov/trak/mdia/hdlr", 55},
            {"moov/trak/mdia/minf/vmhd", 20},
            {"moov/trak/mdia/minf/hdlr", 55},
            {"moov/trak/mdia/minf/dinf", 36},
            {"moov/trak/mdia/minf/stbl/stsd", 102},
            {"moov/trak/mdia/minf/stbl/stsd/ZUVM", 86},
            {"moov/trak/mdia/minf/stbl/stts", 24},
            {"moov/trak/mdia/minf/stbl/stsc", 28},
            {"moov/trak/mdia/minf/stbl/stsz", 20 + 4 * F},
            {"moov/trak/mdia/minf/stbl/co64", 16 + 8 * F},
        };
        for (const auto& e : expected)
            EXPECT_EQ(find(f, e.path).size, e.size) << e.path;
        uint64_t stbl = 8 + 102 + 24 + 28 + (20 + 4 * F) + (16 + 8 * F);
        uint64_t minf = 8 + 20 + 55 + 36 + stbl;
        uint64_t mdia = 8 + 32 + 55 + minf;
        uint64_t trak = 8 + 92 + 36 + mdia;
        EXPECT_EQ(find(f, "moov/trak/mdia/minf/stbl").size, stbl);
        EXPECT_EQ(find(f, "moov/trak").size, trak);
        EXPECT_EQ(find(f, "moov").size, 8 + 108 + (8 + 12 + L) + trak);
    }
}

TEST(WriterLayout, AudioTrackSizes) {
    TempMovie temp;
    MovFile movie;
    ASSERT_NE(movie.openWrite(temp.path.c_str(), nullptr, 0, 0, {}, 0, 1, 44100, 2, 16), nullptr);
    // Blocks of 10, 10, 4, 10 samples make three runs in the merged table.
    for (int samples : {10, 10, 4, 10}) {
        Bytes block = pattern(static_cast<size_t>(samples) * 4, 9);
        LargeFp* fp = movie.prepareToWriteAudioSample();
        ASSERT_NE(fp, nullptr);
        fwrite_L(block.data(), block.size(), 1, fp);
        ASSERT_EQ(movie.endWriteAudioSample(samples), 0);
    }
    ASSERT_EQ(movie.close(), 0);
    Bytes f = readFile(temp.path);
    EXPECT_EQ(find(f, "moov/trak/mdia/minf/smhd").size, 16u);
    EXPECT_FALSE(find(f, "moov/trak/mdia/minf/vmhd").found);
    EXPECT_EQ(find(f, kStbl + "stsd").size, 58u);
    EXPECT_EQ(find(f, kStbl + "stsd/sowt").size, 42u);
    EXPECT_EQ(find(f, kStbl + "stsc").size, 16u + 12 * 3);
    EXPECT_EQ(find(f, kStbl + "stsz").size, 20u);
    EXPECT_EQ(find(f, kStbl + "co64").size, 16u + 8 * 4);
    EXPECT_EQ(childTypes(f, find(f, "moov/trak/mdia/minf")),
              (std::vector<std::string>{"smhd", "hdlr", "dinf", "stbl"}));
}

TEST(WriterLayout, VideoAndAudioTrackHeaders) {
    TempMovie temp;
    Bytes f = writeHdMovie(temp, true);
    EXPECT_EQ(childTypes(f, find(f, "moov")),
              (std::vector<std::string>{"mvhd", "udta", "trak", "trak"}));
    // Video first, with the identity matrix and the frame size last.
    Span video = find(f, "moov/trak#0/tkhd");
    EXPECT_EQ(be(f, video.start + 8, 4), 15u); // version 0, flags 15
    EXPECT_EQ(be(f, video.start + 20, 4), 1u); // track id
    EXPECT_EQ(be(f, video.start + 44, 2), 0u); // volume
    const uint32_t identity[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(be(f, video.start + 48 + 4 * i, 4), identity[i]) << i;
    EXPECT_EQ(be(f, video.start + 84, 4), 0x07800000u);
    EXPECT_EQ(be(f, video.start + 88, 4), 0x04380000u);
    EXPECT_EQ(video.end(), video.start + 92);

    Span audio = find(f, "moov/trak#1/tkhd");
    EXPECT_EQ(be(f, audio.start + 20, 4), 2u);
    EXPECT_EQ(be(f, audio.start + 44, 2), 0x0100u);
    EXPECT_EQ(be(f, audio.start + 84, 8), 0u);

    Span mvhd = find(f, "moov/mvhd");
    EXPECT_EQ(be(f, mvhd.start + 104, 4), 3u);         // next track id
    EXPECT_EQ(be(f, mvhd.start + 28, 4), 0x00010000u); // rate 1.0
    EXPECT_EQ(be(f, mvhd.start + 32, 2), 0x00FFu);     // volume
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(be(f, mvhd.start + 44 + 4 * i, 4), identity[i]) << i;
    // 2 frames of 24 at 600; 100 samples at 48000 are 1.25 units of 600.
    EXPECT_EQ(be(f, mvhd.start + 24, 4), 48u);
    EXPECT_EQ(be(f, audio.start + 28, 4), 1u);
}

TEST(WriterLayout, AudioOnlyMovieHasTrackOne) {
    TempMovie temp;
    MovFile movie;
    ASSERT_NE(movie.openWrite(temp.path.c_str(), nullptr, 0, 0, {}, 0, 1, 48000, 1, 8), nullptr);
    ASSERT_EQ(movie.close(), 0);
    Bytes f = readFile(temp.path);
    EXPECT_EQ(be(f, find(f, "moov/trak/tkhd").start + 20, 4), 1u);
    EXPECT_EQ(be(f, find(f, "moov/mvhd").start + 104, 4), 2u);
    EXPECT_EQ(be(f, find(f, "moov/mvhd").start + 20, 4), 600u);
}

TEST(WriterLayout, VideoSampleDescription) {
    TempMovie temp;
    Bytes f = writeHdMovie(temp, false);
    Span stsd = find(f, kStbl + "stsd");
    EXPECT_EQ(be(f, stsd.start + 12, 4), 1u);
    Span e = find(f, kStbl + "stsd/ZUVM");
    ASSERT_TRUE(e.found);
    EXPECT_EQ(be(f, e.start + 8, 6), 0u);  // reserved
    EXPECT_EQ(be(f, e.start + 14, 2), 1u); // data reference index
    EXPECT_EQ(text(f, e.start + 20, 4), "KEO ");
    EXPECT_EQ(fields(f, e, 24, 4, 2), (Fields{100, 258})); // temporal, spatial quality
    EXPECT_EQ(fields(f, e, 32, 2, 2), (Fields{1920, 1080}));
    EXPECT_EQ(fields(f, e, 36, 4, 2), (Fields{0x00480000, 0x00480000})); // 72 dpi
    EXPECT_EQ(be(f, e.start + 48, 2), 1u);
    Bytes name(32, 0);
    name[0] = 3;
    std::memcpy(name.data() + 1, "KEO", 3);
    EXPECT_EQ(Bytes(f.begin() + e.start + 50, f.begin() + e.start + 82), name);
    EXPECT_EQ(be(f, e.start + 82, 2), 24u);
    EXPECT_EQ(be(f, e.start + 84, 2), 0xFFFFu);
}

TEST(WriterLayout, SoundDescriptionRateBytes) {
    TempMovie temp;
    Bytes f = writeHdMovie(temp, true);
    Span e = find(f, "moov/trak#1/mdia/minf/stbl/stsd/sowt");
    ASSERT_TRUE(e.found);
    EXPECT_EQ(text(f, e.start + 20, 4), "KEO ");
    EXPECT_EQ(be(f, e.start + 24, 2), 2u);  // channels
    EXPECT_EQ(be(f, e.start + 26, 2), 16u); // bits
    EXPECT_EQ(Bytes(f.begin() + e.start + 32, f.begin() + e.start + 36),
              (Bytes{0xBB, 0x80, 0x00, 0x00}));
    EXPECT_EQ(be(f, e.start + 36, 6), 0u);
    EXPECT_EQ(be(f, find(f, "moov/trak#1/mdia/mdhd").start + 20, 4), 48000u);
}

TEST(WriterLayout, HandlersAndMediaHeaders) {
    TempMovie temp;
    Bytes f = writeHdMovie(temp, true);
    for (const char* path : {"moov/trak#0/mdia/hdlr", "moov/trak#0/mdia/minf/hdlr"}) {
        Span h = find(f, path);
        EXPECT_EQ(text(f, h.start + 12, 8), "mhlrvide") << path;
        EXPECT_EQ(be(f, h.start + 32, 1), 22u) << path;
        EXPECT_EQ(text(f, h.start + 33, 22), "ZU Video Media Handler") << path;
    }
    Span sound = find(f, "moov/trak#1/mdia/hdlr");
    EXPECT_EQ(text(f, sound.start + 12, 8), "mhlrsoun");
    EXPECT_EQ(text(f, sound.start + 33, 22), "ZU Audio Media Handler");

    Span vmhd = find(f, "moov/trak#0/mdia/minf/vmhd");
    EXPECT_EQ(be(f, vmhd.start + 8, 4), 1u);
    EXPECT_EQ(be(f, vmhd.start + 12, 8), 0x0040800080008000u);
    Span dref = find(f, "moov/trak#0/mdia/minf/dinf/dref");
    // One self-reference of 12 bytes, flags 1: the data is in this file.
    EXPECT_EQ(fields(f, dref, 12, 4, 2), (Fields{1, 12}));
    EXPECT_EQ(text(f, dref.start + 20, 4), "alis");
    EXPECT_EQ(be(f, dref.start + 24, 4), 1u);
    // Language 0, quality 100.
    EXPECT_EQ(fields(f, find(f, "moov/trak#0/mdia/mdhd"), 28, 2, 2), (Fields{0, 100}));
    // One edit from media time 0 at rate 1.0.
    Span elst = find(f, "moov/trak#0/edts/elst");
    EXPECT_EQ(be(f, elst.start + 12, 4), 1u);
    EXPECT_EQ(fields(f, elst, 20, 4, 2), (Fields{0, 0x00010000}));
}

TEST(WriterLayout, OneCreditEntryNamingCodecAndMaker) {
    TempMovie temp;
    Bytes f = writeHdMovie(temp, false);
    Span udta = find(f, "moov/udta");
    EXPECT_EQ(childTypes(f, udta), (std::vector<std::string>{"\xA9inf"}));
    Span inf = find(f, "moov/udta/\xA9inf");
    size_t length = be(f, inf.start + 8, 2);
    EXPECT_EQ(length, std::strlen(kQuicktimeCreditText));
    EXPECT_EQ(be(f, inf.start + 10, 2), 0u);
    std::string credit = text(f, inf.start + 12, length);
    EXPECT_EQ(credit, kQuicktimeCreditText);
    EXPECT_NE(credit.find("KEO"), std::string::npos);
    EXPECT_NE(credit.find("Ostrel ZU"), std::string::npos);
}

TEST(WriterLayout, NoSyncFieldOr32BitOffsetAtoms) {
    TempMovie temp;
    Bytes f = writeHdMovie(temp, true);
    Span moov = find(f, "moov");
    std::string atoms = text(f, moov.start, moov.size);
    for (const char* type : {"stss", "fiel", "stco", "ctab", "free", "wide"})
        EXPECT_EQ(atoms.find(type), std::string::npos) << type;
    for (int t = 0; t < 2; t++) {
        std::string stbl = "moov/trak#" + std::to_string(t) + "/mdia/minf/stbl";
        EXPECT_EQ(childTypes(f, find(f, stbl)),
                  (std::vector<std::string>{"stsd", "stts", "stsc", "stsz", "co64"}));
    }
    // Nothing but mdat and moov at the top level.
    EXPECT_EQ(find(f, "mdat").end(), moov.start);
    EXPECT_EQ(moov.end(), f.size());
}
