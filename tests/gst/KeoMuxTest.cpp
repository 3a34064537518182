// keomux: test sources through keoenc ! keomux into a file, read back with
// the movie reader: the exact rate, every frame, every sample of the sound
// as the source made it; and the refusals a user meets (a downstream that
// cannot seek, a second sound stream, a stop before the end).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "GstTestSupport.h"
#include "base/FrameRate.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"

namespace keogst {
namespace {

Bytes readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Stored {
    bool opened = false;
    int frames = 0;
    int scale = 0, sampleDuration = 0;
    int channels = 0, rate = 0, bits = 0;
    Bytes sound;
    // Where the frames end and the sound's chunks start, and the sample
    // frames of its first chunk.
    int64_t framesEnd = 0, soundStart = 0, firstChunk = 0;
};

Stored readMovie(const std::string& path) {
    Stored s;
    MovFile movie;
    if (!movie.openRead(path.c_str()))
        return s;
    s.opened = true;
    s.frames = movie.nFrames();
    movie.frameRate(s.scale, s.sampleDuration);
    if (movie.hasAudio()) {
        s.channels = movie.audioTrackNumberOfChannels(0);
        s.rate = static_cast<int>(movie.audioTrackSampleRate(0));
        s.bits = movie.audioTrackAudioBits(0);
        const long n = static_cast<long>(movie.audioTrackNumberOfSamples(0));
        s.sound.resize(static_cast<size_t>(n) * s.channels * s.bits / 8);
        s.sound.resize(
            static_cast<size_t>(movie.readAudio(reinterpret_cast<char*>(s.sound.data()), 0, n, 0)));
        const QuicktimeSTBL& t = movie.file->audioMaps[0].track->mdia.minf.stbl;
        s.soundStart = t.stco.totalEntries > 0 ? t.stco.table[0] : 0;
        s.firstChunk = t.stsc.totalEntries > 0 ? t.stsc.table[0].samples : 0;
    }
    if (s.frames > 0)
        s.framesEnd = movie.frameOffset(s.frames - 1) + movie.frameSize(s.frames - 1);
    movie.close();
    return s;
}

// The pictures' length in sample frames: keo export renders the sound of
// the frames' duration in its host's ticks, and keomux writes as much.
size_t picturesSound(int frames, int fpsN, int fpsD, int rate) {
    const keo::FrameRate movieRate{fpsN, fpsD};
    return static_cast<size_t>(static_cast<__int128>(keo::frameStartTicks(
                                   movieRate, keo::kStandInTicksPerSecond, frames)) *
                               rate / keo::kStandInTicksPerSecond);
}

// `sound` begins with `kept` and is silent after it.
bool keptThenSilent(const Bytes& sound, const Bytes& kept) {
    return sound.size() >= kept.size() && std::equal(kept.begin(), kept.end(), sound.begin()) &&
           std::all_of(sound.begin() + kept.size(), sound.end(),
                       [](unsigned char b) { return !b; });
}

// The source's sound goes both into the movie and, through a tee, into a
// raw file: what the movie holds must be those bytes, sample for sample
// (32-bit ones too: keomux has no float path to lose their low bits on),
// after the last frame, in chunks of one frame's worth rounded up, and
// padded with silence to the pictures' length, as keo export writes it.
struct RateAndSound {
    int fpsN, fpsD, frames;
    const char* format;
    int channels, rate, bits;
    int64_t block;
};

TEST(KeoMuxTest, TestSourcesGiveTheExactRateEveryFrameAndEverySample) {
    const RateAndSound cases[] = {
        {30000, 1001, 31, "S16LE", 2, 48000, 16, 1602}, // 1601.6
        {25, 1, 26, "S24LE", 1, 44100, 24, 1764},
        {24000, 1001, 25, "S32LE", 6, 96000, 32, 4004},
        {25, 2, 7, "S16LE", 2, 48000, 16, 3840}, // 7000 sample frames: 3840 and 3160
    };
    for (const RateAndSound& c : cases) {
        const std::string name = std::to_string(c.fpsN) + "_" + c.format;
        SCOPED_TRACE(name);
        TempPath movie(name + ".mov"), raw(name + ".raw");
        const std::string rate = std::to_string(c.fpsN) + "/" + std::to_string(c.fpsD);
        const PipelineRun run =
            runPipeline("videotestsrc num-buffers=" + std::to_string(c.frames) +
                        " ! video/x-raw,format=ARGB,width=64,height=48,framerate=" + rate +
                        " ! keoenc ! keomux name=m ! filesink location=" + movie.path +
                        " audiotestsrc num-buffers=7 samplesperbuffer=1000 wave=white-noise"
                        " ! audio/x-raw,format=" +
                        c.format + ",channels=" + std::to_string(c.channels) +
                        ",rate=" + std::to_string(c.rate) +
                        " ! tee name=t ! queue ! m. t. ! queue ! filesink location=" + raw.path);
        ASSERT_TRUE(run.eos) << run.error;
        const Stored s = readMovie(movie.path);
        ASSERT_TRUE(s.opened);
        EXPECT_EQ(s.frames, c.frames);
        EXPECT_EQ(int64_t{s.scale} * c.fpsD, int64_t{s.sampleDuration} * c.fpsN)
            << s.scale << "/" << s.sampleDuration;
        EXPECT_EQ(s.channels, c.channels);
        EXPECT_EQ(s.rate, c.rate);
        EXPECT_EQ(s.bits, c.bits);
        const Bytes source = readAll(raw.path);
        const size_t frameBytes = size_t{1} * c.channels * c.bits / 8;
        EXPECT_EQ(source.size(), 7000 * frameBytes);
        EXPECT_EQ(s.sound.size(), picturesSound(c.frames, c.fpsN, c.fpsD, c.rate) * frameBytes);
        EXPECT_TRUE(keptThenSilent(s.sound, source)) << "the movie's sound is not the source's";
        EXPECT_EQ(s.soundStart, s.framesEnd);
        EXPECT_EQ(s.firstChunk, c.block);
    }
}

// The first frame is the movie's time 0: sound that starts 100 ms later is
// preceded by 4800 silent samples at 48 kHz, sound that starts 100 ms
// earlier loses its first 4800; either way it lasts as long as the 10
// frames.
TEST(KeoMuxTest, SoundKeepsItsPlaceAgainstTheFirstFrame) {
    const struct {
        const char* videoOffset;
        const char* soundOffset;
        long silence, dropped;
    } cases[] = {{"0", "100000000", 4800, 0}, {"100000000", "0", 0, 4800}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("video at ") + c.videoOffset + ", sound at " + c.soundOffset);
        TempPath movie("aligned.mov"), raw("aligned.raw");
        const PipelineRun run = runPipeline(
            std::string("videotestsrc num-buffers=10 timestamp-offset=") + c.videoOffset +
            " ! video/x-raw,format=ARGB,width=16,height=16,framerate=25/1 ! keoenc ! keomux "
            "name=m ! filesink location=" +
            movie.path +
            " audiotestsrc num-buffers=12 wave=white-noise timestamp-offset=" + c.soundOffset +
            " ! audio/x-raw,format=S16LE,channels=1,rate=48000 ! tee name=t ! queue ! m. t. ! "
            "queue ! filesink location=" +
            raw.path);
        ASSERT_TRUE(run.eos) << run.error;
        const Stored s = readMovie(movie.path);
        const Bytes source = readAll(raw.path);
        ASSERT_EQ(s.sound.size(), 2 * picturesSound(10, 25, 1, 48000));
        Bytes kept(2 * c.silence, 0);
        kept.insert(kept.end(), source.begin() + 2 * c.dropped, source.end());
        EXPECT_TRUE(keptThenSilent(s.sound, kept));
    }
}

// Float sound is stored as 24-bit integers as an export stores it: x 2^23,
// halves rounded away from zero, clipped at full scale, NaN silent.
TEST(KeoMuxTest, FloatSoundIsRoundedAndClippedTo24Bits) {
    const float in[] = {
        0.25f, 0.5f / 8388608, -0.5f / 8388608, 1.0f,
        -1.0f, 1.5f,           -1.5f,           std::numeric_limits<float>::quiet_NaN()};
    const int32_t want[] = {2097152, 1, -1, 8388607, -8388608, 8388607, -8388608, 0};
    TempPath floats("floats.raw"), movie("floats.mov");
    {
        std::ofstream out(floats.path, std::ios::binary);
        for (int repeat = 0; repeat < 100; ++repeat)
            out.write(reinterpret_cast<const char*>(in), sizeof in);
    }
    const PipelineRun run = runPipeline(
        "videotestsrc num-buffers=2 ! video/x-raw,format=ARGB,width=16,height=16,framerate=25/1 "
        "! keoenc ! keomux name=m ! filesink location=" +
        movie.path + " filesrc location=" + floats.path +
        " ! rawaudioparse format=pcm pcm-format=f32le sample-rate=48000 num-channels=1 ! m.");
    ASSERT_TRUE(run.eos) << run.error;
    const Stored s = readMovie(movie.path);
    ASSERT_EQ(s.bits, 24);
    ASSERT_EQ(s.sound.size(), picturesSound(2, 25, 1, 48000) * 3);
    for (size_t i = 0; i < 800; ++i) {
        const unsigned char* p = s.sound.data() + i * 3;
        const int32_t v = static_cast<int32_t>((p[0] | p[1] << 8 | p[2] << 16) << 8) >> 8;
        ASSERT_EQ(v, want[i % 8]) << "sample " << i;
    }
}

// Caps without a rate (framerate=0/1): the frames' even spacing gives it.
TEST(KeoMuxTest, RateComesFromTimestampsWhenTheCapsHaveNone) {
    TempPath movie("spacing.mov");
    const PipelineRun run = runPipeline(
        "videotestsrc num-buffers=12 ! video/x-raw,format=ARGB,width=16,height=16,"
        "framerate=30000/1001 ! keoenc ! capssetter caps=video/x-keo,framerate=0/1 ! keomux ! "
        "filesink location=" +
        movie.path);
    ASSERT_TRUE(run.eos) << run.error;
    const Stored s = readMovie(movie.path);
    EXPECT_EQ(s.frames, 12);
    EXPECT_EQ(s.scale, 30000);
    EXPECT_EQ(s.sampleDuration, 1001);
}

// The movie atom goes in last and the start is patched: a sink that cannot
// seek would get a broken file, so nothing is written and the error says why.
TEST(KeoMuxTest, ADownstreamThatCannotSeekIsRefusedBeforeAnyByte) {
    const PipelineRun run = runPipeline(
        "videotestsrc num-buffers=3 ! video/x-raw,format=ARGB,width=16,height=16 ! keoenc ! "
        "keomux ! appsink name=out sync=false");
    EXPECT_FALSE(run.eos);
    EXPECT_NE(run.error.find("can seek"), std::string::npos) << run.error;
}

// What keomux cannot do ends in an error that says why, before a byte: a
// rate above a million frames per second, and sound with nowhere to wait
// for the end (a temporary folder that does not exist).
TEST(KeoMuxTest, WhatCannotBeStoredEndsInAnErrorThatSaysWhy) {
    const struct {
        const char* framerate;
        const char* tmpdir;
        const char* words;
    } cases[] = {
        {"2000000/1", nullptr, "cannot be stored"},
        {"25/1", "/nonexistent-keo-tmp", "keep the sound aside"},
    };
    const char* saved = std::getenv("TMPDIR");
    const std::string savedDir = saved ? saved : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        TempPath movie("refused.mov");
        if (c.tmpdir)
            setenv("TMPDIR", c.tmpdir, 1);
        const PipelineRun run = runPipeline(
            std::string("videotestsrc num-buffers=3 ! video/x-raw,format=ARGB,width=16,height=16,"
                        "framerate=") +
            c.framerate + " ! keoenc ! keomux name=m ! filesink location=" + movie.path +
            " audiotestsrc num-buffers=3 ! audio/x-raw,format=S16LE,channels=1,rate=48000 ! m.");
        if (saved)
            setenv("TMPDIR", savedDir.c_str(), 1);
        else
            unsetenv("TMPDIR");
        EXPECT_FALSE(run.eos);
        EXPECT_NE(run.error.find(c.words), std::string::npos) << run.error;
        EXPECT_TRUE(readAll(movie.path).empty());
    }
}

// The audio pad lists only the rates a movie holds: 30464 and 22664 Hz,
// which readers take for the wrapped 96000 and 88200, do not link, and
// through audioresample the sound is stored at a rate that reads back as
// itself, all of it.
TEST(KeoMuxTest, SoundRatesThatReadBackAsOthersAreNeverStored) {
    for (const char* rate : {"30464", "22664"}) {
        SCOPED_TRACE(rate);
        for (const char* resample : {"", "audioresample ! "}) {
            TempPath movie("rate.mov");
            const PipelineRun run = runPipeline(
                std::string("videotestsrc num-buffers=25 ! video/x-raw,format=ARGB,width=16,"
                            "height=16,framerate=25/1 ! keoenc ! keomux name=m ! filesink "
                            "location=") +
                movie.path + " audiotestsrc num-buffers=10 samplesperbuffer=" + rate +
                " ! audio/x-raw,format=S16LE,channels=1,rate=" + rate + " ! " + resample + "m.");
            const Stored s = readMovie(movie.path);
            if (!*resample) {
                EXPECT_FALSE(run.eos);
                EXPECT_FALSE(s.opened);
                continue;
            }
            ASSERT_TRUE(run.eos) << run.error;
            EXPECT_NE(s.rate, std::atoi(rate));
            EXPECT_NE(s.rate, 96000);
            EXPECT_NE(s.rate, 88200);
            EXPECT_EQ(s.sound.size(), 2 * picturesSound(25, 25, 1, s.rate));
        }
    }
}

// qtmux's video pads are video_%u: a pipeline that names one links the same.
TEST(KeoMuxTest, AVideoPadNamedAsQtmuxNamesItLinks) {
    TempPath movie("video0.mov");
    const PipelineRun run = runPipeline(
        "keomux name=m ! filesink location=" + movie.path +
        " videotestsrc num-buffers=5 ! video/x-raw,format=ARGB,width=16,height=16,framerate=25/1 ! "
        "keoenc ! m.video_0");
    ASSERT_TRUE(run.eos) << run.error;
    EXPECT_EQ(readMovie(movie.path).frames, 5);
}

std::string firstMessage(GstElement* element, GstMessageType type) {
    GstBus* bus = gst_element_get_bus(element);
    GstMessage* m = bus ? gst_bus_pop_filtered(bus, type) : nullptr;
    std::string text;
    if (m) {
        GError* e = nullptr;
        if (type == GST_MESSAGE_WARNING)
            gst_message_parse_warning(m, &e, nullptr);
        else
            gst_message_parse_error(m, &e, nullptr);
        text = e ? e->message : "";
        g_clear_error(&e);
        gst_message_unref(m);
    }
    if (bus)
        gst_object_unref(bus);
    return text;
}

// The writer keeps one sound track: a second audio pad is refused at once,
// with a warning that says so.
TEST(KeoMuxTest, ASecondSoundPadIsRefusedWithAWarning) {
    initGStreamer();
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* mux = gst_element_factory_make("keomux", nullptr);
    gst_bin_add(GST_BIN(pipeline), mux);
    GstPad* first = gst_element_request_pad_simple(mux, "audio_%u");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(gst_element_request_pad_simple(mux, "audio_%u"), nullptr);
    EXPECT_NE(firstMessage(pipeline, GST_MESSAGE_WARNING).find("one sound track"),
              std::string::npos);
    gst_element_release_request_pad(mux, first);
    gst_object_unref(first);
    gst_object_unref(pipeline);
}

// Stopped before EOS, as a recording interrupted: the bytes are there but no
// movie atom, the media data's size field still 0, and a warning says so.
TEST(KeoMuxTest, AStopBeforeTheEndLeavesNoHeaderAndSaysSo) {
    initGStreamer();
    TempPath movie("stopped.mov");
    GstElement* pipeline = gst_parse_launch(
        ("videotestsrc is-live=true ! video/x-raw,format=ARGB,width=16,height=16,framerate=50/1 "
         "! keoenc ! keomux ! filesink buffer-mode=unbuffered location=" +
         movie.path)
            .c_str(),
        nullptr);
    ASSERT_NE(pipeline, nullptr);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    // Until a few frames are in the file; the bound only keeps a broken
    // pipeline from hanging the test (a sanitizer build is slow to start).
    for (int i = 0; i < 6000 && readAll(movie.path).size() < 1000; ++i)
        g_usleep(10000);
    // READY first: on the way to NULL the pipeline's bus drops what it holds.
    gst_element_set_state(pipeline, GST_STATE_READY);
    EXPECT_NE(firstMessage(pipeline, GST_MESSAGE_WARNING).find("not finished"), std::string::npos);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);

    const Bytes b = readAll(movie.path);
    ASSERT_GE(b.size(), 1000u);
    EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 8), "mdat");
    EXPECT_TRUE(std::all_of(b.begin() + 8, b.begin() + 16, [](unsigned char c) { return c == 0; }));
    const char moov[] = "moov";
    EXPECT_EQ(std::search(b.begin(), b.end(), moov, moov + 4), b.end());
    EXPECT_EQ(readMovie(movie.path).frames, 0);
}

} // namespace
} // namespace keogst
