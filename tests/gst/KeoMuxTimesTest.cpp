// keomux against streams built here, buffer by buffer through appsrc: KEO
// frames that carry their index (each is the payload of a picture seeded
// with it, so the movie tells which frame went where) and sound whose every
// sample is known. Frames land at their times after drops and GAP events,
// the frames' own rate is read from their timestamps as a whole, sound
// keeps its times and the pictures' length, caps that change are refused
// before a frame of them is written. (A recording killed before its end is
// gst_tools.sh's: it needs a real SIGKILL.)
#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "GstTestSupport.h"
#include "container/MovFile.h"

namespace keogst {
namespace {

constexpr int64_t kMs = GST_MSECOND;

struct Frame {
    int index;      // -1: a GAP event instead of a frame
    int64_t atMs;   // timestamp
    int64_t lastMs; // duration; 0 for none
    int width = 16;
};

// Mono 16-bit sound at 48 kHz: block `b` holds b * 1000 + i + 1 at sample i.
struct Sound {
    int64_t atMs;
    int samples;
};

struct Stream {
    std::string videoCaps = "video/x-keo,width=16,height=16,framerate=25/1";
    std::string props;
    std::vector<Frame> frames;
    std::vector<Sound> sound;
    // After frame n the video caps become these (empty: never).
    size_t capsChangeAfter = SIZE_MAX;
    std::string newCaps;
};

struct Result {
    bool eos = false;
    std::string error; // message and debug text
    std::string warnings;
    std::vector<int> frames; // the index each frame of the movie carries; empty without a movie
    int scale = 0, sampleDuration = 0;
    std::vector<int16_t> sound;
};

Bytes payload(int index, int width) {
    static std::map<std::pair<int, int>, Bytes> made;
    Bytes& p = made[{index, width}];
    if (p.empty())
        p = encodeFrame(Layout::DXT1, width, 16, static_cast<uint32_t>(index) + 1);
    return p;
}

// A zero-size buffer flagged GAP becomes a GAP event on the way out.
GstPadProbeReturn gapsAsEvents(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!GST_BUFFER_FLAG_IS_SET(b, GST_BUFFER_FLAG_GAP))
        return GST_PAD_PROBE_OK;
    gst_pad_push_event(pad, gst_event_new_gap(GST_BUFFER_PTS(b), GST_BUFFER_DURATION(b)));
    return GST_PAD_PROBE_DROP;
}

void pushFrames(GstAppSrc* v, const Stream& r) {
    for (size_t n = 0; n < r.frames.size(); ++n) {
        const Frame& f = r.frames[n];
        GstBuffer* b = gst_buffer_new();
        if (f.index < 0) {
            GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_GAP);
        } else {
            const Bytes p = payload(f.index, f.width);
            gst_buffer_unref(b);
            b = gst_buffer_new_memdup(p.data(), p.size());
        }
        GST_BUFFER_PTS(b) = f.atMs * kMs;
        GST_BUFFER_DURATION(b) = f.lastMs > 0 ? f.lastMs * kMs : GST_CLOCK_TIME_NONE;
        gst_app_src_push_buffer(v, b);
        if (n + 1 == r.capsChangeAfter) {
            GstCaps* caps = gst_caps_from_string(r.newCaps.c_str());
            gst_app_src_set_caps(v, caps);
            gst_caps_unref(caps);
        }
    }
    gst_app_src_end_of_stream(v);
}

void pushSound(GstAppSrc* a, const Stream& r) {
    for (size_t b = 0; b < r.sound.size(); ++b) {
        std::vector<int16_t> s(r.sound[b].samples);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<int16_t>(b * 1000 + i % 1000 + 1);
        GstBuffer* buffer = gst_buffer_new_memdup(s.data(), s.size() * 2);
        GST_BUFFER_PTS(buffer) = r.sound[b].atMs * kMs;
        gst_app_src_push_buffer(a, buffer);
    }
    gst_app_src_end_of_stream(a);
}

std::string messageText(GstMessage* m) {
    GError* e = nullptr;
    gchar* debug = nullptr;
    if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR)
        gst_message_parse_error(m, &e, &debug);
    else
        gst_message_parse_warning(m, &e, &debug);
    std::string text = std::string(e ? e->message : "") + " (" + (debug ? debug : "") + ")\n";
    g_clear_error(&e);
    g_free(debug);
    return text;
}

void readBack(const std::string& path, size_t sources, Result* out) {
    MovFile movie;
    if (!movie.openRead(path.c_str()))
        return;
    movie.frameRate(out->scale, out->sampleDuration);
    for (int k = 0; k < movie.nFrames(); ++k) {
        Bytes got(static_cast<size_t>(movie.frameSize(k)));
        movie.readFrame(k, got.data());
        // A frame of the movie's 16 pixels names its index; any other is -2.
        int index = -2;
        for (size_t i = 0; i < sources && index < 0; ++i)
            if (payload(static_cast<int>(i), 16) == got)
                index = static_cast<int>(i);
        out->frames.push_back(index);
    }
    if (movie.hasAudio()) {
        out->sound.resize(static_cast<size_t>(movie.audioTrackNumberOfSamples(0)));
        movie.readAudio(reinterpret_cast<char*>(out->sound.data()), 0,
                        static_cast<long>(out->sound.size()), 0);
    }
    movie.close();
}

Result mux(const Stream& r) {
    initGStreamer();
    TempPath movie("times.mov");
    std::string text = "appsrc name=v format=time caps=\"" + r.videoCaps + "\" ! keomux name=m " +
                       r.props + " ! filesink location=" + movie.path;
    if (!r.sound.empty())
        text += " appsrc name=a format=time caps=audio/x-raw,format=S16LE,layout=interleaved,"
                "channels=1,rate=48000 ! m.audio_0";
    GstElement* pipeline = gst_parse_launch(text.c_str(), nullptr);
    GstElement* v = gst_bin_get_by_name(GST_BIN(pipeline), "v");
    GstElement* a = gst_bin_get_by_name(GST_BIN(pipeline), "a");
    GstPad* out = gst_element_get_static_pad(v, "src");
    gst_pad_add_probe(out, GST_PAD_PROBE_TYPE_BUFFER, gapsAsEvents, nullptr, nullptr);
    gst_object_unref(out);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    pushFrames(GST_APP_SRC(v), r);
    if (a)
        pushSound(GST_APP_SRC(a), r);
    Result result;
    GstBus* bus = gst_element_get_bus(pipeline);
    while (GstMessage* m = gst_bus_timed_pop_filtered(
               bus, 60 * GST_SECOND,
               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR |
                                           GST_MESSAGE_WARNING))) {
        const GstMessageType type = GST_MESSAGE_TYPE(m);
        if (type == GST_MESSAGE_WARNING)
            result.warnings += messageText(m);
        else if (type == GST_MESSAGE_ERROR)
            result.error = messageText(m);
        result.eos = type == GST_MESSAGE_EOS;
        gst_message_unref(m);
        if (type != GST_MESSAGE_WARNING)
            break;
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(v);
    if (a)
        gst_object_unref(a);
    gst_object_unref(pipeline);
    readBack(movie.path, r.frames.size(), &result);
    return result;
}

// Frames i at i x 40 ms (25 fps), each lasting 40 ms.
std::vector<Frame> steady(int count) {
    std::vector<Frame> f;
    for (int i = 0; i < count; ++i)
        f.push_back({i, i * 40, 40});
    return f;
}

// What each slot of the movie holds when frames stray from their times:
// the last frame again where none came (with a GAP event or without), the
// later of two for one slot, a GAP at the end lengthening the movie, and a
// variable-rate source placed at the framerate property's rate.
TEST(KeoMuxTimes, FramesLandAtTheirTimesAfterDropsAndGapEvents) {
    const struct {
        const char* what;
        std::vector<Frame> frames;
        std::string caps, props;
        std::vector<int> movie;
        const char* told; // in the warning, or "" for none
    } cases[] = {
        {"a frame missing",
         {{0, 0, 40}, {1, 40, 40}, {2, 120, 40}},
         "",
         "",
         {0, 1, 1, 2},
         "1 repeated"},
        {"a GAP event for two frames",
         {{0, 0, 40}, {1, 40, 40}, {-1, 80, 80}, {2, 160, 40}},
         "",
         "",
         {0, 1, 1, 1, 2},
         "2 repeated"},
        {"a GAP event at the end",
         {{0, 0, 40}, {1, 40, 40}, {-1, 80, 80}},
         "",
         "",
         {0, 1, 1, 1},
         "2 repeated"},
        {"two frames for one slot",
         {{0, 0, 40}, {1, 40, 10}, {2, 50, 30}, {3, 80, 40}},
         "",
         "",
         {0, 2, 3},
         "1 dropped"},
        {"a clean stream", steady(4), "", "", {0, 1, 2, 3}, ""},
        {"a variable rate placed at framerate=25/1",
         {{0, 0, 0}, {1, 30, 0}, {2, 130, 0}, {3, 160, 0}},
         "video/x-keo,width=16,height=16,framerate=0/1",
         "framerate=25/1",
         {0, 1, 1, 2, 3},
         "1 repeated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Stream r;
        r.frames = c.frames;
        r.props = c.props;
        if (!c.caps.empty())
            r.videoCaps = c.caps;
        const Result got = mux(r);
        ASSERT_TRUE(got.eos) << got.error;
        EXPECT_EQ(got.frames, c.movie);
        EXPECT_EQ(int64_t{got.scale}, int64_t{got.sampleDuration} * 25);
        if (*c.told)
            EXPECT_NE(got.warnings.find(c.told), std::string::npos) << got.warnings;
        else
            EXPECT_EQ(got.warnings, "");
    }
}

// Caps without a rate: the timestamps as a whole give it, whatever the
// first interval says, snapped to a standard rate within 0.1%; a stream
// that fits no constant rate is refused in words that name the property.
TEST(KeoMuxTimes, TheFramesOwnRateComesFromAllTheirTimestamps) {
    // n frames at `fps`, frame i off its time by jitter[min(i, n - 1 - i) % size]
    // frames: the same at both ends, so no end pulls the rate its way.
    auto at = [](double fps, int n, std::vector<double> jitter) {
        std::vector<Frame> f;
        for (int i = 0; i < n; ++i) {
            const double off = jitter[std::min(i, n - 1 - i) % jitter.size()];
            f.push_back({i, static_cast<int64_t>((i + off) * 1000 / fps), 0});
        }
        return f;
    };
    std::vector<Frame> threeMissing = at(25, 20, {0});
    for (size_t i = 10; i < threeMissing.size(); ++i)
        threeMissing[i].atMs += 120;
    // 2.7% of a frame short between the first two, on time after.
    std::vector<Frame> shortFirst = at(30000.0 / 1001, 40, {0});
    shortFirst[0].atMs += 1;
    const struct {
        const char* what;
        std::vector<Frame> frames;
        int scale, duration; // 0: refused
    } cases[] = {
        {"jitter of 40% either way, the first interval long", at(25, 30, {0, 0.4, -0.4}), 600, 24},
        {"the first interval 2.7% short", shortFirst, 30000, 1001},
        {"12.5 fps, no standard rate", at(12.5, 10, {0}), 600, 48},
        {"three frames missing midway", threeMissing, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Stream r;
        r.videoCaps = "video/x-keo,width=16,height=16,framerate=0/1";
        r.frames = c.frames;
        const Result got = mux(r);
        if (c.scale == 0) {
            EXPECT_FALSE(got.eos);
            EXPECT_NE(got.error.find("framerate property"), std::string::npos) << got.error;
            EXPECT_TRUE(got.frames.empty());
            continue;
        }
        ASSERT_TRUE(got.eos) << got.error;
        EXPECT_EQ(got.scale, c.scale);
        EXPECT_EQ(got.sampleDuration, c.duration);
        EXPECT_EQ(got.frames.size(), c.frames.size());
    }
}

// The sound keeps its times against the first frame and lasts as long as
// the pictures (50 frames, 2 s, 96000 samples): a gap is silence and is
// told, an overlap is dropped, sound past the pictures is cut.
TEST(KeoMuxTimes, SoundKeepsItsTimesAndThePicturesLength) {
    const struct {
        const char* what;
        std::vector<Sound> sound;
        std::vector<std::pair<size_t, int16_t>> expect; // sample, value (0: silence)
        const char* told;
    } cases[] = {
        {"a 500 ms gap",
         {{0, 24000}, {1000, 24000}},
         {{0, 1}, {23999, 1000}, {24000, 0}, {47999, 0}, {48000, 1001}, {71999, 2000}, {72000, 0}},
         "gap"},
        {"a 100 ms overlap",
         {{0, 24000}, {400, 24000}},
         {{23999, 1000}, {24000, 1801}, {43199, 2000}, {43200, 0}},
         "overlaps"},
        {"longer than the pictures", {{0, 120000}}, {{95999, 1000}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Stream r;
        r.frames = steady(50);
        r.sound = c.sound;
        for (auto props :
             {"", "reserved-max-duration=10000000000 reserved-moov-update-period=100000000"}) {
            SCOPED_TRACE(props);
            r.props = props;
            const Result got = mux(r);
            ASSERT_TRUE(got.eos) << got.error;
            ASSERT_EQ(got.sound.size(), 96000u) << got.warnings << got.error;
            for (const auto& [sample, value] : c.expect)
                EXPECT_EQ(got.sound[sample], value) << "sample " << sample;
            if (*c.told) {
                EXPECT_NE(got.warnings.find(c.told), std::string::npos) << got.warnings;
            }
        }
    }
}

// A size or rate change after the first frame is refused when it is
// negotiated, and a frame whose payload is not of the movie's size is
// refused before it is written: either way the movie is never finished with
// a frame its header does not describe. (Upstream may still end its stream
// after the refusal, and the movie is then finished with the frames before
// the change, all of its size.)
TEST(KeoMuxTimes, ACapsChangeNeverFinishesABrokenMovie) {
    const struct {
        const char* what;
        std::string newCaps;
        int width; // of the frames after the change
        const char* words;
    } cases[] = {
        {"a size change", "video/x-keo,width=32,height=16,framerate=25/1", 32, "not-negotiated"},
        {"a rate change", "video/x-keo,width=16,height=16,framerate=30/1", 16, "not-negotiated"},
        {"frames of another size under the same caps", "", 32, "not a KEO frame of the movie's"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Stream r;
        r.frames = steady(20);
        for (size_t i = 10; i < r.frames.size(); ++i)
            r.frames[i].width = c.width;
        r.capsChangeAfter = c.newCaps.empty() ? SIZE_MAX : 10;
        r.newCaps = c.newCaps;
        const Result got = mux(r);
        EXPECT_FALSE(got.eos);
        EXPECT_NE(got.error.find(c.words), std::string::npos) << got.error;
        const std::vector<int> before{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        EXPECT_TRUE(got.frames.empty() || got.frames == before)
            << "a movie was finished with " << got.frames.size() << " frames";
    }
}

} // namespace
} // namespace keogst
