// A movie decoded by GStreamer, frame by frame, for keo export.
#include "MovieInput.h"

#include "OggEnd.h"
#include "StandInHost.h"
#include "Stills.h"
#include "base/SoundSpool.h"
#include "container/atoms/SampleDescription.h"
#include "libkeo/Failure.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

namespace keo::tool {
using namespace keo::lib;
namespace {

// A file whose streams end more than this many of the movie's frames before
// the length its header declares was cut short; a shorter gap is said in a
// note (muxers round lengths, and a last frame may be dropped).
constexpr int64_t kCutFrames = 2;
// How long a wait for the next frame lasts before the bus is looked at.
constexpr GstClockTime kPollInterval = 100 * GST_MSECOND;
// Decoding up to the first frame ends in a message, but not always: on some
// damaged files the demuxer and decodebin can each wait for the other, and
// the pipeline goes silent. A wait this long without the end of it, an error
// or a buffering report is taken as that, not as a slow source (one that
// buffers says so).
constexpr GstClockTime kSilentPrerollLimit = 30 * GST_SECOND;

std::string secondsText(GstClockTime t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f s", static_cast<double>(t) / GST_SECOND);
    return buf;
}

void startGStreamer() {
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        GError* error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error))
            failure = error ? error->message : "cannot start";
        g_clear_error(&error);
    });
    if (!failure.empty())
        fail("GStreamer", failure);
}

GstClockTime runningTimeOf(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    const GstSegment* segment = gst_sample_get_segment(sample);
    if (!buffer || !segment || segment->format != GST_FORMAT_TIME ||
        !GST_BUFFER_PTS_IS_VALID(buffer))
        return GST_CLOCK_TIME_NONE;
    return gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
}

bool elementIsDecoder(GstObject* source) {
    if (!GST_IS_ELEMENT(source))
        return false;
    GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(source));
    const char* klass =
        factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : nullptr;
    return klass && std::strstr(klass, "Decoder");
}

// Where the file says its video stream ends, when it says so for that
// stream alone: a demuxer whose segment ends where the stream does (and
// gives no length of the whole, as QuickTime's does from the track's own
// length), or one that answers a stream's length below the file's (AVI's).
// Others give the file's length for every stream, which a video shorter
// than its sound is not short of.
GstClockTime videoOwnEnd(GstAppSink* sink, GstClockTime fileLength) {
    GstPad* pad = gst_element_get_static_pad(GST_ELEMENT(sink), "sink");
    GstClockTime own = GST_CLOCK_TIME_NONE;
    if (GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0)) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (segment->format == GST_FORMAT_TIME && GST_CLOCK_TIME_IS_VALID(segment->stop) &&
            !GST_CLOCK_TIME_IS_VALID(segment->duration))
            own = gst_segment_to_running_time(segment, GST_FORMAT_TIME, segment->stop);
        gst_event_unref(event);
    }
    gint64 length = -1;
    if (!GST_CLOCK_TIME_IS_VALID(own) && GST_CLOCK_TIME_IS_VALID(fileLength) &&
        gst_pad_peer_query_duration(pad, GST_FORMAT_TIME, &length) && length > 0 &&
        static_cast<GstClockTime>(length) < fileLength)
        own = static_cast<GstClockTime>(length);
    gst_object_unref(pad);
    return own;
}

// An Ogg file states no length for the decoded length to be held against:
// a cut one must be told by its missing end.
void checkWholeOgg(const std::string& path, const std::string& input) {
    if (path.find("://") != std::string::npos)
        return; // read by GStreamer from elsewhere
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return; // GStreamer says why in its own words
    const OggEnding ending = checkOggEnding(fd);
    close(fd);
    if (ending.isOgg && !ending.whole)
        fail(input, ending.why + "; the file is cut short");
}

} // namespace

struct MovieInputState {
    MovieInputRequest request;
    MovieInputInfo info;
    GstElement* pipeline = nullptr;
    GstBus* bus = nullptr;
    GstAppSink* video = nullptr; // owned references
    GstAppSink* sound = nullptr;

    // Shared with the streaming threads.
    std::mutex lock;
    std::string undecodable;   // caps of a video stream no decoder took
    std::string missing;       // an element GStreamer's base set should have
    bool variableRate = false; // the video stream has no frame rate
    bool videoTaken = false;   // a stream was chosen for each
    bool soundTaken = false;
    // Where the latest decoded frame ends, before videorate, and whether
    // it said how long it lasts.
    GstClockTime decodedEnd = GST_CLOCK_TIME_NONE;
    bool decodedLasts = false;
    // Frames decoded, the size of the first, and the first frame of another
    // size (-1: none yet). videorate hands out the first frame of a new size
    // in the place of the frame before it, so the frames keo receives
    // cannot tell where the stream changed.
    int64_t decodedFrames = 0;
    int firstWidth = 0, firstHeight = 0;
    int64_t resizedAt = -1;
    int newWidth = 0, newHeight = 0;
    GstAudioInfo soundSource{};
    std::unique_ptr<keo::SoundSpool> spool; // the sound, when it is kept
    GstClockTime soundEnd = GST_CLOCK_TIME_NONE;

    // keo's thread only.
    GstClockTime videoStart = GST_CLOCK_TIME_NONE;
    GstClockTime videoEnd = GST_CLOCK_TIME_NONE;
    GstClockTime declared = GST_CLOCK_TIME_NONE;
    GstClockTime videoDeclared = GST_CLOCK_TIME_NONE; // the video's own, where known
    int64_t framesOut = 0;
    // The frame lent to the export, mapped, until the next is asked for.
    GstSample* lent = nullptr;
    GstVideoFrame lentFrame{};
    std::vector<float> interleaved; // the sound read back, before it is made planar
    bool ended = false;
    bool busSawEnd = false; // the pipeline's EOS, whenever the bus gave it

    ~MovieInputState() {
        giveBack();
        if (pipeline) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(pipeline);
        }
        if (bus)
            gst_object_unref(bus);
        if (video)
            gst_object_unref(video);
        if (sound)
            gst_object_unref(sound);
    }

    [[noreturn]] void failWith(const std::string& why) { fail(request.input, why); }
    bool pastVideo(GstClockTime frameTime) {
        std::lock_guard<std::mutex> hold(lock);
        if (!GST_CLOCK_TIME_IS_VALID(frameTime) || !GST_CLOCK_TIME_IS_VALID(decodedEnd))
            return false;
        // A last frame without a duration lasts one frame of the movie.
        const GstClockTime lasts =
            decodedLasts ? 0 : gst_util_uint64_scale(GST_SECOND, info.rate.den, info.rate.num);
        return frameTime >= decodedEnd + lasts;
    }
    [[noreturn]] void failResized() {
        std::unique_lock<std::mutex> hold(lock);
        std::string where = "at frame " + std::to_string(framesOut);
        if (resizedAt >= 0)
            where = "at frame " + std::to_string(resizedAt) + ", from " +
                    std::to_string(firstWidth) + "x" + std::to_string(firstHeight) + " to " +
                    std::to_string(newWidth) + "x" + std::to_string(newHeight);
        hold.unlock();
        failWith("changes its frame size " + where +
                 "; give --size to scale every frame to one size");
    }
    // How many of the movie's frames a stream that ended at `end` is short
    // of `declared`, to the nearest: less than half a frame is the rounding
    // of a length, not a frame lost. 0 when either is unknown.
    int64_t framesShort(GstClockTime end, GstClockTime declared) const {
        if (!GST_CLOCK_TIME_IS_VALID(declared) || !GST_CLOCK_TIME_IS_VALID(end) || end >= declared)
            return 0;
        return static_cast<int64_t>(
            gst_util_uint64_scale_round(declared - end, info.rate.num, info.rate.den * GST_SECOND));
    }
    void giveBack() {
        if (!lent)
            return;
        gst_video_frame_unmap(&lentFrame);
        gst_sample_unref(lent);
        lent = nullptr;
    }
    void fetchFirst();
    void checkBus(GstClockTime wait, bool untilEnd);
    void finish();
};

namespace {

GstElement* make(MovieInputState* s, const char* factory) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (!e) {
        std::lock_guard<std::mutex> hold(s->lock);
        if (s->missing.empty())
            s->missing = factory;
    }
    return e;
}

// Builds `chain` (in order) in the pipeline, links it after `pad` and starts
// it; false (with the elements released) when one could not be made.
bool addChain(MovieInputState* s, GstPad* pad, std::vector<GstElement*> chain) {
    for (GstElement* e : chain)
        if (!e) {
            for (GstElement* other : chain)
                if (other)
                    gst_object_unref(other);
            return false;
        }
    for (GstElement* e : chain)
        gst_bin_add(GST_BIN(s->pipeline), e);
    for (size_t i = 1; i < chain.size(); ++i)
        gst_element_link(chain[i - 1], chain[i]);
    for (GstElement* e : chain)
        gst_element_sync_state_with_parent(e);
    GstPad* sink = gst_element_get_static_pad(chain.front(), "sink");
    const bool linked = gst_pad_link(pad, sink) == GST_PAD_LINK_OK;
    gst_object_unref(sink);
    return linked;
}

// Streams keo does not keep are decoded into nothing, without holding up
// the start (a sparse stream may have no data for a long time).
void linkNowhere(MovieInputState* s, GstPad* pad) {
    GstElement* sink = make(s, "fakesink");
    if (sink)
        g_object_set(sink, "async", FALSE, "sync", FALSE, nullptr);
    addChain(s, pad, {sink});
}

GstPadProbeReturn onDecodedFrame(GstPad* pad, GstPadProbeInfo* probe, gpointer data);

void linkVideo(MovieInputState* s, GstPad* pad, GstCaps* decoded) {
    const MovieInputRequest& r = s->request;
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGBA", nullptr);
    if (r.width > 0)
        gst_caps_set_simple(caps, "width", G_TYPE_INT, r.width, "height", G_TYPE_INT, r.height,
                            "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    // The rate asked for, else the decoder's own, named so that videorate
    // keeps it; a stream that has none (0/1: frames come when they come)
    // cannot be exported without --fps.
    int num = static_cast<int>(r.rate.num), den = static_cast<int>(r.rate.den);
    if (num <= 0 &&
        !gst_structure_get_fraction(gst_caps_get_structure(decoded, 0), "framerate", &num, &den))
        num = 0;
    if (num > 0)
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, num, den, nullptr);
    GstElement* filter = make(s, "capsfilter");
    GstElement* sink = make(s, "appsink");
    if (filter)
        g_object_set(filter, "caps", caps, nullptr);
    // Frames wait for keo in a short queue: a long movie is never held.
    if (sink)
        g_object_set(sink, "caps", caps, "sync", FALSE, "max-buffers", 2, "drop", FALSE,
                     "enable-last-sample", FALSE, nullptr);
    gst_caps_unref(caps);
    // videorate places the frames by their timestamps at the rate asked for
    // (the stream's own when none was), repeating or dropping where they
    // stray.
    GstElement* rate = make(s, "videorate");
    if (!addChain(s, pad, {make(s, "videoconvert"), make(s, "videoscale"), rate, filter, sink}))
        return;
    GstPad* decodedSide = gst_element_get_static_pad(rate, "sink");
    gst_pad_add_probe(decodedSide, GST_PAD_PROBE_TYPE_BUFFER, onDecodedFrame, s, nullptr);
    gst_object_unref(decodedSide);
    std::lock_guard<std::mutex> hold(s->lock);
    s->video = GST_APP_SINK(gst_object_ref(sink));
    s->variableRate = num <= 0;
}

GstFlowReturn onSound(GstAppSink* sink, gpointer data);

GstPadProbeReturn onDecodedFrame(GstPad* pad, GstPadProbeInfo* probe, gpointer data) {
    auto* s = static_cast<MovieInputState*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(probe);
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event)
        return GST_PAD_PROBE_OK;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    GstClockTime start = GST_CLOCK_TIME_NONE;
    if (buffer && GST_BUFFER_PTS_IS_VALID(buffer) && segment->format == GST_FORMAT_TIME)
        start = gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    gst_event_unref(event);
    int width = 0, height = 0;
    if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
        const GstStructure* st = gst_caps_get_structure(caps, 0);
        gst_structure_get_int(st, "width", &width);
        gst_structure_get_int(st, "height", &height);
        gst_caps_unref(caps);
    }
    {
        std::lock_guard<std::mutex> hold(s->lock);
        if (s->decodedFrames++ == 0) {
            s->firstWidth = width;
            s->firstHeight = height;
        } else if (s->resizedAt < 0 && (width != s->firstWidth || height != s->firstHeight)) {
            s->resizedAt = s->decodedFrames - 1;
            s->newWidth = width;
            s->newHeight = height;
        }
    }
    if (GST_CLOCK_TIME_IS_VALID(start)) {
        const bool lasts = GST_BUFFER_DURATION_IS_VALID(buffer);
        const GstClockTime end = start + (lasts ? GST_BUFFER_DURATION(buffer) : 0);
        std::lock_guard<std::mutex> hold(s->lock);
        if (!GST_CLOCK_TIME_IS_VALID(s->decodedEnd) || end >= s->decodedEnd) {
            s->decodedEnd = end;
            s->decodedLasts = lasts;
        }
    }
    return GST_PAD_PROBE_OK;
}

// The host's clock counts whole ticks per sample at these rates only.
bool rateFitsHost(int rate) {
    return rate > 0 && keo::host::kTicksPerSecond % rate == 0;
}

// The rate the movie keeps a sound at: its own where the host's clock counts
// it and a movie holds it; else the highest rate of its family a movie holds
// that is not above it (88200 or 44100 Hz for multiples of 11025 Hz, 96000
// or 48000 Hz for the others), or 48000 Hz for a rate the clock cannot count.
int keptSoundRate(int rate) {
    if (rateFitsHost(rate) && QuicktimeSoundRateFits(rate))
        return rate;
    const bool cdFamily = rate % 11025 == 0;
    if (rate > 96000)
        return cdFamily ? 88200 : 96000;
    if (rate > 65535)
        return cdFamily ? 44100 : 48000;
    return 48000;
}

void linkSound(MovieInputState* s, GstPad* pad, GstCaps* decoded) {
    GstAudioInfo source;
    if (!gst_audio_info_from_caps(&source, decoded)) {
        linkNowhere(s, pad);
        return;
    }
    const int from = GST_AUDIO_INFO_CHANNELS(&source);
    const int channels = from == 1 || from == 2 || from == 6 ? from : 2;
    const int rate = keptSoundRate(GST_AUDIO_INFO_RATE(&source));
    GstCaps* caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "layout",
                                        G_TYPE_STRING, "interleaved", "channels", G_TYPE_INT,
                                        channels, "rate", G_TYPE_INT, rate, nullptr);
    // 5.1 in the order WAV files and keo export keep: FL FR FC LFE BL BR.
    if (channels == 6)
        gst_caps_set_simple(caps, "channel-mask", GST_TYPE_BITMASK, guint64{0x3f}, nullptr);
    GstElement* filter = make(s, "capsfilter");
    GstElement* sink = make(s, "appsink");
    if (filter)
        g_object_set(filter, "caps", caps, nullptr);
    if (sink) {
        g_object_set(sink, "caps", caps, "sync", FALSE, "enable-last-sample", FALSE, nullptr);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = onSound;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, s, nullptr);
    }
    gst_caps_unref(caps);
    if (!addChain(s, pad, {make(s, "audioconvert"), make(s, "audioresample"), filter, sink}))
        return;
    std::string change;
    if (channels != from)
        change = std::to_string(from) + " channels mixed down to stereo";
    const int fromRate = GST_AUDIO_INFO_RATE(&source);
    if (rate != fromRate)
        change += (change.empty() ? "" : ", ") + std::to_string(fromRate) + " Hz resampled to " +
                  std::to_string(rate) + " Hz" +
                  (!rateFitsHost(fromRate) ? " (the host's clock cannot count it)"
                   : fromRate > 96000      ? " (a movie holds at most 96000 Hz)"
                                           : " (a movie holds up to 65535 Hz, then 88200 and "
                                             "96000 Hz)");
    std::lock_guard<std::mutex> hold(s->lock);
    s->sound = GST_APP_SINK(gst_object_ref(sink));
    s->soundSource = source;
    s->info.soundChange = change;
}

// Takes the first video and the first sound stream. Our lock is never held
// while GStreamer is called: its streaming threads take it (in onSound and
// onDecodedFrame) while holding their own locks.
void onPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* s = static_cast<MovieInputState*>(data);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const char* kind =
        gst_caps_is_empty(caps) ? "" : gst_structure_get_name(gst_caps_get_structure(caps, 0));
    const bool video = std::strcmp(kind, "video/x-raw") == 0;
    const bool sound = std::strcmp(kind, "audio/x-raw") == 0;
    bool take = false;
    {
        std::lock_guard<std::mutex> hold(s->lock);
        bool& taken = video ? s->videoTaken : s->soundTaken;
        if ((video || sound) && !taken)
            take = taken = true;
        else if (g_str_has_prefix(kind, "video/") && !video && s->undecodable.empty())
            s->undecodable = kind;
    }
    if (take && video)
        linkVideo(s, pad, caps);
    else if (take)
        linkSound(s, pad, caps);
    else
        linkNowhere(s, pad);
    gst_caps_unref(caps);
}

// Keeps the sound (SoundSpool places it by its timestamps) and notes where
// it ends.
GstFlowReturn onSound(GstAppSink* sink, gpointer data) {
    auto* s = static_cast<MovieInputState*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_ERROR;
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        gst_sample_unref(sample);
        return GST_FLOW_ERROR;
    }
    const GstClockTime time = runningTimeOf(sample);
    std::lock_guard<std::mutex> hold(s->lock);
    const int rate = s->info.sampleRate, channels = s->info.channels;
    if (rate > 0 && channels > 0) {
        const int64_t frames = static_cast<int64_t>(map.size / (static_cast<size_t>(channels) * 4));
        if (s->spool)
            s->spool->put(GST_CLOCK_TIME_IS_VALID(time) ? static_cast<int64_t>(time) : -1,
                          reinterpret_cast<const float*>(map.data), frames);
        const GstClockTime end =
            GST_CLOCK_TIME_IS_VALID(time)
                ? time + gst_util_uint64_scale(static_cast<guint64>(frames), GST_SECOND, rate)
                : GST_CLOCK_TIME_NONE;
        if (GST_CLOCK_TIME_IS_VALID(end) &&
            (!GST_CLOCK_TIME_IS_VALID(s->soundEnd) || end > s->soundEnd))
            s->soundEnd = end;
    }
    gst_buffer_unmap(buffer, &map);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

} // namespace

// Looks at what the pipeline said: an error ends keo, as does a decoder
// that had to give up on part of the stream. With `untilEnd`, waits for
// the end of every stream.
void MovieInputState::checkBus(GstClockTime wait, bool untilEnd) {
    const auto kinds =
        static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING | GST_MESSAGE_EOS);
    for (;;) {
        GstMessage* m =
            gst_bus_timed_pop_filtered(bus, untilEnd ? GST_CLOCK_TIME_NONE : wait, kinds);
        if (!m)
            return;
        GError* error = nullptr;
        std::string text;
        const GstMessageType type = GST_MESSAGE_TYPE(m);
        const bool decoder = elementIsDecoder(GST_MESSAGE_SRC(m));
        if (type == GST_MESSAGE_ERROR)
            gst_message_parse_error(m, &error, nullptr);
        else if (type == GST_MESSAGE_WARNING)
            gst_message_parse_warning(m, &error, nullptr);
        if (error)
            text = error->message;
        g_clear_error(&error);
        gst_message_unref(m);
        if (type == GST_MESSAGE_ERROR)
            failWith(text);
        if (type == GST_MESSAGE_WARNING && decoder)
            failWith("part of the stream could not be decoded: " + text);
        if (type == GST_MESSAGE_EOS) {
            busSawEnd = true;
            if (untilEnd)
                return;
        }
        wait = 0;
    }
}

// The frames are over: every stream must end well, and cover the length
// the file declares.
void MovieInputState::finish() {
    ended = true;
    checkBus(0, !busSawEnd);
    std::lock_guard<std::mutex> hold(lock);
    if (spool && spool->error() != 0)
        fail("the sound's temporary file", std::strerror(spool->error()));
    GstClockTime end = videoEnd;
    if (GST_CLOCK_TIME_IS_VALID(soundEnd) && (!GST_CLOCK_TIME_IS_VALID(end) || soundEnd > end))
        end = soundEnd;
    // The file's length against the longest stream, and the video's own
    // where the file states it: a cut that takes frames but leaves the
    // sound (coarsely interleaved files) shows only there.
    const int64_t overall = framesShort(end, declared);
    const int64_t video = framesShort(videoEnd, videoDeclared);
    const bool byVideo = video > overall;
    const int64_t frames = byVideo ? video : overall;
    if (frames <= 0)
        return;
    const std::string said = std::string(byVideo ? "its video " : "") + "ends at " +
                             secondsText(byVideo ? videoEnd : end) + " of the " +
                             secondsText(byVideo ? videoDeclared : declared) +
                             " its header declares (" + std::to_string(frames) + " frame" +
                             (frames == 1 ? "" : "s") + " short)";
    if (frames > kCutFrames)
        failWith(said + "; the file is cut short");
    info.shortEnd = said;
}

MovieInput::MovieInput(const MovieInputRequest& request) : state_(new MovieInputState) {
    MovieInputState* s = state_.get();
    s->request = request;
    const std::string& input = request.input;
    const bool uri = input.find("://") != std::string::npos;
    // A local file's fault in the system's words, as for every keo input.
    if (!uri && access(input.c_str(), R_OK) != 0)
        fail(input, std::strerror(errno));
    checkWholeOgg(inputPathOf(input), input);
    startGStreamer();
    gchar* location = uri ? g_strdup(input.c_str()) : gst_filename_to_uri(input.c_str(), nullptr);
    s->pipeline = gst_pipeline_new("keo-input");
    s->bus = gst_element_get_bus(s->pipeline);
    GstElement* decode = make(s, "uridecodebin");
    if (!decode || !location) {
        g_free(location);
        fail("GStreamer", "uridecodebin is missing (install gstreamer1.0-plugins-base)");
    }
    g_object_set(decode, "uri", location, nullptr);
    g_free(location);
    g_signal_connect(decode, "pad-added", G_CALLBACK(onPadAdded), s);
    gst_bin_add(GST_BIN(s->pipeline), decode);

    // Paused, the pipeline decodes up to the first frame of each stream.
    gst_element_set_state(s->pipeline, GST_STATE_PAUSED);
    for (;;) {
        // Buffering counts as life; only the other two end the wait. Other
        // messages are dropped inside GStreamer, as the filter has them.
        GstMessage* m = gst_bus_timed_pop_filtered(
            s->bus, kSilentPrerollLimit,
            static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR |
                                        GST_MESSAGE_BUFFERING));
        if (!m)
            s->failWith("GStreamer stopped without a first frame or an error; the file may be "
                        "damaged");
        const GstMessageType type = GST_MESSAGE_TYPE(m);
        if (type != GST_MESSAGE_ASYNC_DONE && type != GST_MESSAGE_ERROR) {
            gst_message_unref(m);
            continue;
        }
        const bool done = type == GST_MESSAGE_ASYNC_DONE;
        if (!done) {
            GError* error = nullptr;
            gst_message_parse_error(m, &error, nullptr);
            std::string text = error ? error->message : "GStreamer failed";
            g_clear_error(&error);
            gst_message_unref(m);
            std::lock_guard<std::mutex> hold(s->lock);
            if (!s->missing.empty())
                fail("GStreamer", "its element " + s->missing + " is missing");
            s->failWith(text);
        }
        gst_message_unref(m);
        break;
    }
    s->fetchFirst();
    gst_element_set_state(s->pipeline, GST_STATE_PLAYING);
}

// What the first frame and first sound say about the streams.
void MovieInputState::fetchFirst() {
    GstAppSink *videoSink = nullptr, *soundSink = nullptr;
    GstAudioInfo decodedSound;
    bool noRate = false;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!missing.empty())
            fail("GStreamer", "its element " + missing + " is missing");
        if (!video && !undecodable.empty())
            failWith("GStreamer on this machine has no decoder for its video (" + undecodable +
                     ")");
        if (!video)
            failWith("has no video stream");
        videoSink = video;
        soundSink = sound;
        decodedSound = soundSource;
        noRate = variableRate;
    }
    GstSample* first = gst_app_sink_pull_preroll(videoSink);
    GstVideoInfo v;
    if (!first || !gst_video_info_from_caps(&v, gst_sample_get_caps(first))) {
        if (first)
            gst_sample_unref(first);
        failWith("its first frame could not be decoded");
    }
    videoStart = runningTimeOf(first);
    gst_sample_unref(first);
    if (noRate || GST_VIDEO_INFO_FPS_N(&v) <= 0)
        failWith("has a variable frame rate; give --fps to choose the movie's rate (its frames are "
                 "then placed by their timestamps)");
    MovieInputInfo found;
    found.width = GST_VIDEO_INFO_WIDTH(&v);
    found.height = GST_VIDEO_INFO_HEIGHT(&v);
    found.rate = FrameRate{GST_VIDEO_INFO_FPS_N(&v), GST_VIDEO_INFO_FPS_D(&v)};
    gint64 duration = -1;
    if (gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration) && duration > 0) {
        declared = static_cast<GstClockTime>(duration);
        found.expectedFrames = static_cast<int64_t>(
            gst_util_uint64_scale_round(declared, found.rate.num, found.rate.den * GST_SECOND));
    }
    videoDeclared = videoOwnEnd(videoSink, declared);
    GstSample* firstSound = soundSink ? gst_app_sink_pull_preroll(soundSink) : nullptr;
    GstAudioInfo a;
    if (firstSound && gst_audio_info_from_caps(&a, gst_sample_get_caps(firstSound))) {
        found.hasSound = request.wantSound;
        found.channels = GST_AUDIO_INFO_CHANNELS(&a);
        found.sampleRate = GST_AUDIO_INFO_RATE(&a);
        const GstAudioFormatInfo* f = decodedSound.finfo;
        found.sourceBits = f ? GST_AUDIO_FORMAT_INFO_DEPTH(f) : 16;
        found.sourceFloat = f && GST_AUDIO_FORMAT_INFO_IS_FLOAT(f);
    }
    if (firstSound)
        gst_sample_unref(firstSound);
    std::unique_ptr<keo::SoundSpool> kept;
    if (found.hasSound) {
        kept = std::make_unique<keo::SoundSpool>();
        if (const int err =
                kept->open(found.channels * static_cast<int>(sizeof(float)), found.sampleRate))
            fail("the sound's temporary file", std::strerror(err));
    }
    std::lock_guard<std::mutex> hold(lock);
    found.soundChange = info.soundChange;
    info = found;
    spool = std::move(kept);
}

MovieInput::~MovieInput() = default;

const MovieInputInfo& MovieInput::info() const {
    return state_->info;
}

const uint8_t* MovieInput::lendFrame(size_t* pitch) {
    MovieInputState* s = state_.get();
    // The export is done with the frame lent last; its buffer goes back to
    // GStreamer for a frame to come.
    s->giveBack();
    if (s->ended)
        return nullptr;
    GstSample* sample = nullptr;
    while (!sample) {
        sample = gst_app_sink_try_pull_sample(s->video, kPollInterval);
        s->checkBus(0, false);
        if (!sample && gst_app_sink_is_eos(s->video)) {
            s->finish();
            return nullptr;
        }
        // At the end videorate repeats the last frame up to the end of the
        // segment, which for some containers is where the longest stream
        // ends; frames that start after the decoded video ended are those.
        if (sample && s->framesOut > 0 && s->pastVideo(runningTimeOf(sample))) {
            gst_sample_unref(sample);
            sample = nullptr;
        }
    }
    GstVideoInfo v;
    const bool read =
        gst_video_info_from_caps(&v, gst_sample_get_caps(sample)) &&
        GST_VIDEO_INFO_WIDTH(&v) == s->info.width && GST_VIDEO_INFO_HEIGHT(&v) == s->info.height &&
        gst_video_frame_map(&s->lentFrame, &v, gst_sample_get_buffer(sample), GST_MAP_READ);
    if (!read) {
        gst_sample_unref(sample);
        s->failResized();
    }
    s->lent = sample;
    const GstClockTime time = runningTimeOf(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (GST_CLOCK_TIME_IS_VALID(time))
        s->videoEnd =
            time + (GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : 0);
    s->framesOut++;
    *pitch = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&s->lentFrame, 0));
    return static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&s->lentFrame, 0));
}

bool MovieInput::readSound(int64_t first, uint32_t count, uint32_t channels, float** planar) {
    MovieInputState* s = state_.get();
    std::lock_guard<std::mutex> hold(s->lock);
    if (!s->spool) {
        for (uint32_t c = 0; c < channels; ++c)
            std::memset(planar[c], 0, count * sizeof(float));
        return true;
    }
    // The first frame is the movie's time 0.
    const int64_t zero = GST_CLOCK_TIME_IS_VALID(s->videoStart)
                             ? static_cast<int64_t>(s->videoStart)
                             : s->spool->startNs();
    const uint32_t kept = static_cast<uint32_t>(s->info.channels);
    s->interleaved.resize(static_cast<size_t>(count) * kept);
    if (!s->spool->read(zero, first, count, s->interleaved.data()))
        return false;
    for (uint32_t c = 0; c < channels; ++c)
        for (uint32_t i = 0; i < count; ++i)
            planar[c][i] = c < kept ? s->interleaved[static_cast<size_t>(i) * kept + c] : 0.0f;
    return true;
}

bool isMovieInput(const std::string& input) {
    if (input == "-")
        return false;
    if (input.find("://") != std::string::npos)
        return true;
    struct stat st;
    return stat(input.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !isStillName(input);
}

std::string inputPathOf(const std::string& input) {
    if (input.rfind("file://", 0) != 0)
        return input;
    gchar* path = g_filename_from_uri(input.c_str(), nullptr, nullptr);
    std::string named = path ? path : input;
    g_free(path);
    return named;
}

} // namespace keo::tool
