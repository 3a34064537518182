// The writer with room for the movie atom at the start of the file, kept
// up to date while chunks come (a recording that must survive a kill), and
// the writer's smaller settings a recorder needs: the sound cut to a length
// and the sound rates a movie can hold. (The rate set after the frames are
// in is keomux's when it settles a stream's own rate: KeoMuxTimesTest reads
// it back.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "writer_support.h"

using namespace writertest;

namespace {

char kZuvm[] = "ZUVM";

// The types of the top-level atoms, walked as a reader walks them: by each
// atom's size, up to the first that is not four letters.
std::vector<std::string> topLevel(const Bytes& f) {
    std::vector<std::string> types;
    for (size_t at = 0; at + 8 <= f.size();) {
        uint64_t size = be(f, at, 4);
        const std::string type = text(f, at + 4, 4);
        if (!std::all_of(type.begin(), type.end(), [](char c) { return std::isalpha(c); }))
            break;
        if (size == 1)
            size = be(f, at + 8, 8);
        types.push_back(type);
        if (size < 8)
            break;
        at += size;
    }
    return types;
}

struct Opened {
    bool movie = false;
    int frames = 0;
    long long sound = 0;
    bool framesIntact = true; // frame k holds pattern(100 + k, k)
};

Opened open(const Bytes& image) {
    Opened o;
    MovFile m;
    if (!m.openReadMemory(image.data(), image.size()))
        return o;
    o.movie = m.file->hasMovieAtom;
    o.frames = m.nFrames();
    o.sound = m.hasAudio() ? m.audioTrackNumberOfSamples(0) : 0;
    for (int k = 0; k < o.frames; ++k) {
        const long long at = m.frameOffset(k);
        const Bytes want = pattern(100 + k, static_cast<uint32_t>(k));
        o.framesIntact = o.framesIntact && at >= 0 && m.frameSize(k) == int(want.size()) &&
                         std::equal(want.begin(), want.end(), image.begin() + at);
    }
    m.close();
    return o;
}

// Frame i (pattern(100 + i, i)) and a block of 10 silent stereo samples.
void writeFrameAndSound(MovFile& m, int i) {
    Bytes frame = pattern(100 + i, static_cast<uint32_t>(i));
    ASSERT_EQ(m.writeFrame(0, static_cast<int>(frame.size()), frame.data()), 0);
    const Bytes sound(40, 0);
    LargeFp* fp = m.prepareToWriteAudioSample();
    ASSERT_NE(fp, nullptr);
    ASSERT_EQ(fwrite_L(sound.data(), sound.size(), 1, fp), sound.size());
    ASSERT_EQ(m.endWriteAudioSample(10), 0);
}

} // namespace

// Updated every 5 frames. After every write, the file opens with the frames
// and sound of the last update that finished, or of the one under way,
// never a mix, never two movie atoms; before the first update it opens as
// no movie. At the end the header is at the start and holds all 30 frames.
TEST(WriterHeaderRoom, AtEveryWriteTheFileOpensWithItsLastUpdate) {
    std::set<int> allowed{0};
    int checks = 0;
    MemoryStream file([&](const Bytes& image) {
        const Opened o = open(image);
        const auto types = topLevel(image);
        EXPECT_LE(std::count(types.begin(), types.end(), "moov"), 1);
        EXPECT_TRUE(allowed.count(o.frames)) << o.frames << " frames";
        EXPECT_EQ(o.sound, 10LL * o.frames);
        EXPECT_TRUE(o.framesIntact);
        checks++;
    });
    MovFile m;
    m.headerRoom = 16384;
    ASSERT_NE(m.openWrite(fadopt_L(file.stream), kZuvm, 32, 32, {25, 1}, 1, 1, 48000, 2, 16),
              nullptr);
    for (int i = 0; i < 30; ++i) {
        writeFrameAndSound(m, i);
        if (i % 5 == 4) {
            allowed.insert(i + 1);
            ASSERT_EQ(m.updateMovieAtom(), 0);
            allowed = {i + 1};
        }
    }
    allowed.insert(30);
    ASSERT_EQ(m.close(), 0);
    EXPECT_GT(checks, 60);
    const auto types = topLevel(file.bytes);
    ASSERT_GE(types.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(types.begin(), types.begin() + 4),
              (std::vector<std::string>{"free", "moov", "free", "mdat"}));
    EXPECT_EQ(open(file.bytes).frames, 30);
}

// The room outgrows: updates say so and write nothing, and close puts the
// header after the media data and leaves the room free space, one header.
// An update before the first frame leaves the frames that follow counted.
TEST(WriterHeaderRoom, PastTheRoomTheHeaderGoesToTheEnd) {
    MemoryStream file;
    MovFile m;
    m.headerRoom = kMinHeaderRoom;
    ASSERT_NE(m.openWrite(fadopt_L(file.stream), kZuvm, 32, 32, {25, 1}, 1, 1, 48000, 2, 16),
              nullptr);
    EXPECT_EQ(m.updateMovieAtom(), 0);
    int full = -1;
    for (int i = 0; i < 400; ++i) {
        writeFrameAndSound(m, i);
        const int updated = m.updateMovieAtom();
        if (updated == kHeaderRoomFull && full < 0)
            full = i;
        ASSERT_NE(updated, 1);
    }
    EXPECT_GT(full, 0);
    ASSERT_EQ(m.close(), 0);
    EXPECT_EQ(topLevel(file.bytes), (std::vector<std::string>{"free", "mdat", "moov"}));
    const Opened o = open(file.bytes);
    EXPECT_EQ(o.frames, 400);
    EXPECT_EQ(o.sound, 4000);
    EXPECT_TRUE(o.framesIntact);
}

// A recorder cuts its sound to its pictures' length after the chunks are
// written: the chunk holding the last sample counts only up to it.
TEST(WriterHeaderRoom, SoundIsCutToALengthInsideAChunkOrBetweenChunks) {
    const struct {
        int64_t cut;
        long long samples;
    } cases[] = {{250, 250}, {200, 200}, {0, 0}, {1000, 300}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cut);
        TempMovie temp;
        MovFile m;
        ASSERT_TRUE(openVideo(m, temp.path, true));
        for (int i = 0; i < 3; ++i) {
            const Bytes sound(400, 1);
            LargeFp* fp = m.prepareToWriteAudioSample();
            fwrite_L(sound.data(), sound.size(), 1, fp);
            ASSERT_EQ(m.endWriteAudioSample(100), 0);
        }
        EXPECT_EQ(m.cutAudio(c.cut), 0);
        ASSERT_EQ(m.close(), 0);
        MovFile r;
        ASSERT_NE(r.openRead(temp.path.c_str()), nullptr);
        EXPECT_EQ(r.audioTrackNumberOfSamples(0), c.samples);
        r.close();
    }
}

// The rate field keeps 16 bits and readers take 22664 and 30464 for the
// wrapped 88200 and 96000: those two are never written, and nothing else
// above 65535 is either.
TEST(WriterHeaderRoom, OnlySoundRatesThatReadBackAsThemselvesAreWritten) {
    const struct {
        int rate;
        bool written;
    } cases[] = {{22663, true},  {22664, false}, {30464, false}, {30465, true},  {65535, true},
                 {65536, false}, {88200, true},  {96000, true},  {192000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        TempMovie temp;
        MovFile m;
        const bool opened =
            m.openWrite(temp.path.c_str(), kZuvm, 32, 32, {25, 1}, 1, 1, c.rate, 2, 16) != nullptr;
        EXPECT_EQ(opened, c.written);
        if (!opened)
            continue;
        ASSERT_EQ(m.close(), 0);
        MovFile r;
        ASSERT_NE(r.openRead(temp.path.c_str()), nullptr);
        EXPECT_EQ(r.audioTrackSampleRate(0), c.rate);
        r.close();
    }
}
