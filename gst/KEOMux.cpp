// keomux, a GstAggregator over the movie writer (container/MovFile).
#include "gst/KEOMux.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

#include <gst/audio/audio.h>
#include <gst/video/video.h>

#include "base/FrameRate.h"
#include "codec/FramePayload.h"
#include "container/MovFile.h"
#include "gst/KEOElement.h"
#include "gst/KEOMuxOutput.h"
#include "gst/KEOMuxSound.h"

GST_DEBUG_CATEGORY_STATIC(keo_mux_debug);
#define GST_CAT_DEFAULT keo_mux_debug

// The writer's limits: 16-bit frame sides; rates its 16-bit rate field
// holds, or the two wider ones readers map back.
#define KEO_MUX_FRAME                                                                              \
    "width = (int) [ 1, 65535 ], height = (int) [ 1, 65535 ], framerate = (fraction) [ 0/1, MAX ]"
#define KEO_MUX_SOUND                                                                              \
    "audio/x-raw, format = (string) { S16LE, S24LE, S32LE, F32LE }, "                              \
    "layout = (string) interleaved, channels = (int) [ 1, 65535 ], rate = (int) "

// video/x-gst-fourcc-ZUVM too: what qtdemux gives for a KEO movie's frames,
// so a movie can be rewritten without decoding.
static GstStaticPadTemplate videoTemplate = GST_STATIC_PAD_TEMPLATE(
    "video", GST_PAD_SINK, GST_PAD_REQUEST,
    GST_STATIC_CAPS("video/x-keo, " KEO_MUX_FRAME "; video/x-gst-fourcc-ZUVM, " KEO_MUX_FRAME));

static GstStaticPadTemplate audioTemplate = GST_STATIC_PAD_TEMPLATE(
    "audio_%u", GST_PAD_SINK, GST_PAD_REQUEST,
    GST_STATIC_CAPS(KEO_MUX_SOUND "[ 1, 65535 ]; " KEO_MUX_SOUND "{ 88200, 96000 }"));

static GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/quicktime"));

struct _GstKeoMux {
    GstAggregator parent;
    // The request pads; the element holds them, so no reference of ours.
    GstAggregatorPad* videoPad;
    GstAggregatorPad* audioPad;
    // The pads' formats from their caps, under the object lock.
    gboolean haveVideoCaps;
    int width, height, fpsN, fpsD;
    gboolean haveAudioCaps;
    GstAudioInfo audio;

    // The rest belongs to the source pad's thread, from start to stop.
    MovFile* movie; // from the first byte to the end of the movie
    KEOMuxOutput out;
    gboolean finished;
    GstAudioInfo stored;   // the sound as the movie was opened with it
    gboolean storesSound;  // the movie has a sound track
    int movieW, movieH;    // the frame size it was opened with
    GstBuffer* firstFrame; // held while the rate is read from timestamps
    GstClockTime firstFrameTime;
    // Running time of frame 0 and, for a rate read from timestamps, the
    // spacing every later frame must keep.
    GstClockTime videoStart, frameDuration;
    guint64 framesWritten;
    guint64 soundLead;  // sample frames still to drop from the sound's start
    KEOMuxSound sound;  // kept aside until the last frame is in
    guint64 soundBlock; // sample frames a chunk of it, as keo export cuts it
};

G_DEFINE_TYPE(GstKeoMux, gst_keo_mux, GST_TYPE_AGGREGATOR)

GST_ELEMENT_REGISTER_DEFINE(keomux, "keomux", GST_RANK_PRIMARY, GST_TYPE_KEO_MUX)

namespace {

GstClockTime runningTime(GstAggregatorPad* pad, GstBuffer* buffer) {
    GstClockTime t =
        GST_BUFFER_PTS_IS_VALID(buffer) ? GST_BUFFER_PTS(buffer) : GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(t))
        return GST_CLOCK_TIME_NONE;
    GST_OBJECT_LOCK(pad);
    if (pad->segment.format == GST_FORMAT_TIME)
        t = gst_segment_to_running_time(&pad->segment, GST_FORMAT_TIME, t);
    else
        t = GST_CLOCK_TIME_NONE;
    GST_OBJECT_UNLOCK(pad);
    return t;
}

// The checks the decoder makes before anything else: a header, a payload
// after it, a header it takes (KEOFrameHeaderAcceptable). What fails them is
// no KEO frame.
bool looksLikePayload(const GstMapInfo& map) {
    if (map.size <= kKEOFrameHeaderSize || map.size > INT_MAX)
        return false;
    KEOFrameHeader header;
    header.read(map.data);
    return KEOFrameHeaderAcceptable(header);
}

bool downstreamSeeks(GstAggregator* agg) {
    GstQuery* query = gst_query_new_seeking(GST_FORMAT_BYTES);
    gboolean seekable = FALSE;
    if (gst_pad_peer_query(GST_AGGREGATOR_SRC_PAD(agg), query))
        gst_query_parse_seeking(query, nullptr, &seekable, nullptr, nullptr);
    gst_query_unref(query);
    return seekable;
}

// A chunk the writer did not take: downstream's own failure when it was
// one (it has spoken already, or is flushing), else an error of ours.
GstFlowReturn writeFailed(GstKeoMux* self, const char* what) {
    if (self->out.flow != GST_FLOW_OK)
        return self->out.flow;
    const int err = self->movie ? self->movie->writeErrno : 0;
    GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Could not write %s of the movie.", what),
                      ("%s", err ? g_strerror(err) : "the movie writer refused it"));
    return GST_FLOW_ERROR;
}

// The sound could not be kept for the end.
GstFlowReturn keepFailed(GstKeoMux* self) {
    GST_ELEMENT_ERROR(self, RESOURCE, WRITE,
                      ("Could not keep the sound aside until the end of the movie."),
                      ("its temporary file: %s", g_strerror(self->sound.error)));
    return GST_FLOW_ERROR;
}

GstFlowReturn writeSound(GstKeoMux* self, GstBuffer* buffer) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read a sound buffer."), (nullptr));
        return GST_FLOW_ERROR;
    }
    const gsize frameBytes = GST_AUDIO_INFO_BPF(&self->stored);
    guint64 frames = map.size / frameBytes;
    const guint64 skip = MIN(frames, self->soundLead);
    self->soundLead -= skip;
    frames -= skip;
    const bool kept = KEOMuxSoundAdd(&self->sound, map.data + skip * frameBytes, frames);
    gst_buffer_unmap(buffer, &map);
    return kept ? GST_FLOW_OK : keepFailed(self);
}

GstFlowReturn writeFrame(GstKeoMux* self, GstBuffer* buffer, GstClockTime time) {
    // A rate read from timestamps holds only while they keep to it; half a
    // frame either way is jitter, more is a frame missing or extra.
    if (GST_CLOCK_TIME_IS_VALID(self->frameDuration) && GST_CLOCK_TIME_IS_VALID(time)) {
        const GstClockTime due = self->videoStart + self->framesWritten * self->frameDuration;
        const GstClockTime off = time > due ? time - due : due - time;
        if (off > self->frameDuration / 2) {
            GST_ELEMENT_ERROR(self, STREAM, MUX,
                              ("The frames' timestamps are not evenly spaced and their caps give "
                               "no frame rate; put videorate with a framerate before keoenc."),
                              ("frame %" G_GUINT64_FORMAT " at %" GST_TIME_FORMAT
                               ", due at %" GST_TIME_FORMAT,
                               self->framesWritten, GST_TIME_ARGS(time), GST_TIME_ARGS(due)));
            return GST_FLOW_ERROR;
        }
    }
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read a frame."), (nullptr));
        return GST_FLOW_ERROR;
    }
    if (!looksLikePayload(map)) {
        gst_buffer_unmap(buffer, &map);
        GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("A buffer on the video pad is not a KEO frame."),
                          ("frame %" G_GUINT64_FORMAT ", %" G_GSIZE_FORMAT " bytes",
                           self->framesWritten, map.size));
        return GST_FLOW_ERROR;
    }
    const int failed = self->movie->writeFrame(0, static_cast<int>(map.size), map.data);
    gst_buffer_unmap(buffer, &map);
    if (failed)
        return writeFailed(self, "a frame");
    self->framesWritten++;
    return GST_FLOW_OK;
}

// Opens the movie once the first frame, and the first sound if any is to
// come, are at hand; GST_FLOW_OK with no movie means "not yet".
GstFlowReturn startMovie(GstKeoMux* self) {
    GstAggregator* agg = GST_AGGREGATOR(self);
    if (!self->videoPad) {
        GST_ELEMENT_ERROR(self, STREAM, MUX,
                          ("keomux has no video stream: link keoenc to its video pad."), (nullptr));
        return GST_FLOW_ERROR;
    }
    GstBuffer* frame = gst_aggregator_pad_peek_buffer(self->videoPad);
    if (!frame && !self->firstFrame) {
        if (!gst_aggregator_pad_is_eos(self->videoPad))
            return GST_FLOW_OK;
        GST_ELEMENT_ERROR(self, STREAM, MUX,
                          ("The video stream ended before its first frame; nothing was written."),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    GstBuffer* sound = self->audioPad ? gst_aggregator_pad_peek_buffer(self->audioPad) : nullptr;
    if (self->audioPad && !sound && !gst_aggregator_pad_is_eos(self->audioPad)) {
        gst_clear_buffer(&frame);
        return GST_FLOW_OK;
    }
    GST_OBJECT_LOCK(self);
    const int width = self->width, height = self->height;
    int fpsN = self->fpsN, fpsD = self->fpsD;
    self->stored = self->audio;
    self->storesSound = sound && self->haveAudioCaps;
    GST_OBJECT_UNLOCK(self);

    GstFlowReturn result = GST_FLOW_OK;
    if (fpsN <= 0) {
        // No rate in the caps: the spacing of the first two frames gives it.
        if (!self->firstFrame) {
            gst_clear_buffer(&frame);
            gst_clear_buffer(&sound);
            self->firstFrame = gst_aggregator_pad_pop_buffer(self->videoPad);
            self->firstFrameTime = runningTime(self->videoPad, self->firstFrame);
            return GST_FLOW_OK;
        }
        GstClockTime spacing = GST_BUFFER_DURATION(self->firstFrame);
        if (frame && GST_CLOCK_TIME_IS_VALID(self->firstFrameTime)) {
            const GstClockTime second = runningTime(self->videoPad, frame);
            spacing = GST_CLOCK_TIME_IS_VALID(second) && second > self->firstFrameTime
                          ? second - self->firstFrameTime
                          : GST_CLOCK_TIME_NONE;
        }
        // The nearest standard rate when one is within 0.1% (1001-based
        // rates come out exact), else the spacing's own.
        fpsN = 0;
        if (GST_CLOCK_TIME_IS_VALID(spacing) && spacing > 0)
            gst_video_guess_framerate(spacing, &fpsN, &fpsD);
        if (fpsN <= 0 || fpsD <= 0) {
            GST_ELEMENT_ERROR(self, STREAM, MUX,
                              ("The video has no frame rate: its caps say framerate=0/1 and its "
                               "timestamps give none; put videorate with a framerate before "
                               "keoenc."),
                              (nullptr));
            result = GST_FLOW_ERROR;
        }
        self->frameDuration = spacing;
    }
    const keo::FrameRate movieRate{fpsN, fpsD};
    if (result == GST_FLOW_OK && !keo::rateFitsMovie(movieRate)) {
        GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                          ("A frame rate of %d/%d cannot be stored: a KEO movie holds rates up to "
                           "%d frames per second.",
                           fpsN, fpsD, static_cast<int>(keo::kMaxMovieFramesPerSecond)),
                          (nullptr));
        result = GST_FLOW_ERROR;
    }
    if (result == GST_FLOW_OK && !downstreamSeeks(agg)) {
        GST_ELEMENT_ERROR(self, STREAM, MUX,
                          ("keomux needs a downstream that can seek, such as filesink: a KEO "
                           "movie's header is finished by writing over its start."),
                          ("downstream of keomux cannot seek in bytes; nothing was written"));
        result = GST_FLOW_ERROR;
    }
    const int channels = self->storesSound ? GST_AUDIO_INFO_CHANNELS(&self->stored) : 0;
    const int rate = self->storesSound ? GST_AUDIO_INFO_RATE(&self->stored) : 0;
    if (result == GST_FLOW_OK && self->storesSound) {
        // keo export asks its host for the sound one frame's worth at a
        // time, at the ticks per frame the host is told.
        self->soundBlock = static_cast<guint64>(
            keo::soundBlockFrames(keo::ticksPerFrame(movieRate, keo::kStandInTicksPerSecond),
                                  keo::kStandInTicksPerSecond, rate));
        if (!KEOMuxSoundStart(&self->sound, GST_AUDIO_INFO_FORMAT(&self->stored), channels)) {
            self->sound.error = errno;
            result = keepFailed(self);
        }
    }
    if (result != GST_FLOW_OK) {
        gst_clear_buffer(&frame);
        gst_clear_buffer(&sound);
        return result;
    }

    GstCaps* caps = gst_caps_new_empty_simple("video/quicktime");
    gst_aggregator_set_src_caps(agg, caps);
    gst_caps_unref(caps);
    FILE* stream = KEOOpenMuxOutput(&self->out, agg);
    self->movie = new MovFile();
    char compressor[] = "ZUVM";
    const int bits = self->storesSound ? KEOMuxStoredBits(GST_AUDIO_INFO_FORMAT(&self->stored)) : 0;
    if (!self->movie->openWrite(fadopt_L(stream), compressor, width, height, movieRate, 1,
                                self->storesSound, rate, channels, bits)) {
        delete self->movie;
        self->movie = nullptr;
        gst_clear_buffer(&frame);
        gst_clear_buffer(&sound);
        if (self->out.flow != GST_FLOW_OK)
            return self->out.flow;
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Could not start the movie."),
                          ("%dx%d frames at %d/%d, %d channel(s) at %d Hz", width, height, fpsN,
                           fpsD, self->storesSound ? channels : 0, rate));
        return GST_FLOW_ERROR;
    }
    self->movieW = width;
    self->movieH = height;

    // The first frame is time 0 of the movie, and the sound keeps to it.
    self->videoStart = self->firstFrame ? self->firstFrameTime : runningTime(self->videoPad, frame);
    if (self->storesSound) {
        const GstClockTime soundStart = runningTime(self->audioPad, sound);
        if (GST_CLOCK_TIME_IS_VALID(soundStart) && GST_CLOCK_TIME_IS_VALID(self->videoStart)) {
            if (soundStart > self->videoStart &&
                !KEOMuxSoundAdd(
                    &self->sound, nullptr,
                    gst_util_uint64_scale_round(soundStart - self->videoStart, rate, GST_SECOND)))
                result = keepFailed(self);
            else if (soundStart <= self->videoStart)
                self->soundLead =
                    gst_util_uint64_scale_round(self->videoStart - soundStart, rate, GST_SECOND);
        }
    }
    gst_clear_buffer(&frame);
    gst_clear_buffer(&sound);
    if (result == GST_FLOW_OK && self->firstFrame)
        result = writeFrame(self, self->firstFrame, self->firstFrameTime);
    gst_clear_buffer(&self->firstFrame);
    return result;
}

GstFlowReturn finishMovie(GstKeoMux* self) {
    // The sound after the last frame, as keo export writes it. A failure
    // leaves the movie open, to be given up without its header at stop.
    if (self->storesSound && KEOMuxSoundStore(&self->sound, self->movie, self->soundBlock) != 0)
        return self->sound.error != 0 && self->movie->writeErrno == 0
                   ? keepFailed(self)
                   : writeFailed(self, "the sound");
    MovFile* movie = self->movie;
    self->movie = nullptr;
    self->finished = TRUE;
    const int failed = movie->close();
    const int err = movie->writeErrno;
    delete movie;
    if (!failed)
        return GST_FLOW_EOS;
    if (self->out.flow != GST_FLOW_OK)
        return self->out.flow;
    GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Could not finish the movie."),
                      ("%s", err ? g_strerror(err) : "the movie writer failed"));
    return GST_FLOW_ERROR;
}

// Back to the state of a muxer that has written nothing.
void resetWriting(GstKeoMux* self) {
    self->finished = FALSE;
    self->storesSound = FALSE;
    gst_clear_buffer(&self->firstFrame);
    self->firstFrameTime = GST_CLOCK_TIME_NONE;
    self->videoStart = GST_CLOCK_TIME_NONE;
    self->frameDuration = GST_CLOCK_TIME_NONE;
    self->framesWritten = 0;
    self->soundLead = 0;
    KEOMuxSoundEnd(&self->sound);
    self->soundBlock = 0;
}

// A pad's new caps; false (with an error posted) for caps the movie cannot
// take, or that change what the movie was opened with.
bool takeCaps(GstKeoMux* self, GstAggregatorPad* pad, GstCaps* caps) {
    if (pad == self->videoPad) {
        GstStructure* s = gst_caps_get_structure(caps, 0);
        int width = 0, height = 0, fpsN = 0, fpsD = 1;
        gst_structure_get_int(s, "width", &width);
        gst_structure_get_int(s, "height", &height);
        gst_structure_get_fraction(s, "framerate", &fpsN, &fpsD);
        if (!KEOPictureFits(width, height)) {
            GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                              ("Frames of %dx%d pixels cannot be stored.", width, height),
                              (nullptr));
            return false;
        }
        if (self->movie && (width != self->movieW || height != self->movieH)) {
            GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                              ("The frame size changed from %dx%d to %dx%d; a movie has one.",
                               self->movieW, self->movieH, width, height),
                              (nullptr));
            return false;
        }
        GST_OBJECT_LOCK(self);
        self->width = width;
        self->height = height;
        self->fpsN = fpsN;
        self->fpsD = fpsD > 0 ? fpsD : 1;
        self->haveVideoCaps = TRUE;
        GST_OBJECT_UNLOCK(self);
        return true;
    }
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, caps) ||
        KEOMuxStoredBits(GST_AUDIO_INFO_FORMAT(&info)) == 0) {
        GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("The sound's caps cannot be stored."),
                          ("%" GST_PTR_FORMAT, caps));
        return false;
    }
    if (self->movie && self->storesSound && !gst_audio_info_is_equal(&info, &self->stored)) {
        GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                          ("The sound's format changed; a movie's sound track has one."),
                          ("now %" GST_PTR_FORMAT, caps));
        return false;
    }
    GST_OBJECT_LOCK(self);
    self->audio = info;
    self->haveAudioCaps = TRUE;
    GST_OBJECT_UNLOCK(self);
    return true;
}

} // namespace

static GstFlowReturn keoMuxAggregate(GstAggregator* agg, gboolean) {
    GstKeoMux* self = GST_KEO_MUX(agg);
    if (self->finished)
        return GST_FLOW_EOS;
    if (!self->movie) {
        const GstFlowReturn started = startMovie(self);
        if (started != GST_FLOW_OK || !self->movie)
            return started;
    }
    // The pad whose next buffer comes first in running time; a buffer
    // without a time goes first.
    GstAggregatorPad* pads[2] = {self->videoPad, self->storesSound ? self->audioPad : nullptr};
    GstAggregatorPad* next = nullptr;
    GstClockTime nextTime = GST_CLOCK_TIME_NONE;
    bool waiting = false;
    for (GstAggregatorPad* pad : pads) {
        if (!pad)
            continue;
        GstBuffer* head = gst_aggregator_pad_peek_buffer(pad);
        if (!head) {
            waiting = waiting || !gst_aggregator_pad_is_eos(pad);
            continue;
        }
        const GstClockTime t = runningTime(pad, head);
        gst_buffer_unref(head);
        if (!next ||
            (GST_CLOCK_TIME_IS_VALID(nextTime) && (!GST_CLOCK_TIME_IS_VALID(t) || t < nextTime))) {
            next = pad;
            nextTime = t;
        }
    }
    if (!next)
        return waiting ? GST_FLOW_OK : finishMovie(self);
    GstBuffer* buffer = gst_aggregator_pad_pop_buffer(next);
    const GstFlowReturn result =
        next == self->videoPad ? writeFrame(self, buffer, nextTime) : writeSound(self, buffer);
    gst_buffer_unref(buffer);
    return result;
}

static gboolean keoMuxSinkEvent(GstAggregator* agg, GstAggregatorPad* pad, GstEvent* event) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        if (!takeCaps(GST_KEO_MUX(agg), pad, caps)) {
            gst_event_unref(event);
            return FALSE;
        }
    }
    return GST_AGGREGATOR_CLASS(gst_keo_mux_parent_class)->sink_event(agg, pad, event);
}

static gboolean keoMuxStart(GstAggregator* agg) {
    resetWriting(GST_KEO_MUX(agg));
    return TRUE;
}

static gboolean keoMuxStop(GstAggregator* agg) {
    GstKeoMux* self = GST_KEO_MUX(agg);
    if (self->movie) {
        // Downstream is gone by now; what the stream still holds is dropped.
        self->out.discard = TRUE;
        self->movie->abandonWrite();
        delete self->movie;
        self->movie = nullptr;
        GST_ELEMENT_WARNING(self, STREAM, MUX,
                            ("The movie was not finished: it stopped before the end of its "
                             "streams, so it has no header and no player will open it."),
                            ("%" G_GUINT64_FORMAT " frame(s) written", self->framesWritten));
    }
    resetWriting(self);
    return TRUE;
}

static GstAggregatorPad* keoMuxCreateNewPad(GstAggregator* agg, GstPadTemplate* templ,
                                            const gchar* requested, const GstCaps*) {
    GstKeoMux* self = GST_KEO_MUX(agg);
    const bool video = std::strcmp(GST_PAD_TEMPLATE_NAME_TEMPLATE(templ), "video") == 0;
    const char* refusal = nullptr;
    GstAggregatorPad* pad = nullptr;
    GST_OBJECT_LOCK(self);
    if (video && self->videoPad)
        refusal = "keomux has its video pad already: a movie holds one video track.";
    else if (!video && self->audioPad)
        refusal = "keomux has its audio pad already: the movie writer stores one sound track, "
                  "so the second sound stream is refused.";
    GST_OBJECT_UNLOCK(self);
    if (refusal) {
        GST_ELEMENT_WARNING(self, STREAM, MUX, ("%s", refusal), (nullptr));
        return nullptr;
    }
    const char* name = video                                       ? "video"
                       : requested && !std::strchr(requested, '%') ? requested
                                                                   : "audio_0";
    pad = GST_AGGREGATOR_PAD(g_object_new(GST_TYPE_AGGREGATOR_PAD, "name", name, "direction",
                                          GST_PAD_SINK, "template", templ, nullptr));
    GST_OBJECT_LOCK(self);
    (video ? self->videoPad : self->audioPad) = pad;
    GST_OBJECT_UNLOCK(self);
    return pad;
}

static void keoMuxReleasePad(GstElement* element, GstPad* pad) {
    GstKeoMux* self = GST_KEO_MUX(element);
    GST_OBJECT_LOCK(self);
    if (pad == GST_PAD(self->videoPad)) {
        self->videoPad = nullptr;
        self->haveVideoCaps = FALSE;
    } else if (pad == GST_PAD(self->audioPad)) {
        self->audioPad = nullptr;
        self->haveAudioCaps = FALSE;
    }
    GST_OBJECT_UNLOCK(self);
    GST_ELEMENT_CLASS(gst_keo_mux_parent_class)->release_pad(element, pad);
}

static void keoMuxFinalize(GObject* object) {
    resetWriting(GST_KEO_MUX(object));
    G_OBJECT_CLASS(gst_keo_mux_parent_class)->finalize(object);
}

static void gst_keo_mux_class_init(GstKeoMuxClass* klass) {
    GST_DEBUG_CATEGORY_INIT(keo_mux_debug, "keomux", 0, "KEO movie muxer");
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template_with_gtype(elementClass, &videoTemplate,
                                                         GST_TYPE_AGGREGATOR_PAD);
    gst_element_class_add_static_pad_template_with_gtype(elementClass, &audioTemplate,
                                                         GST_TYPE_AGGREGATOR_PAD);
    KEODescribeElement(elementClass, nullptr, &srcTemplate, "KEO movie muxer", "Codec/Muxer",
                       "Writes KEO frames and raw sound into a KEO movie (QuickTime)");
    elementClass->release_pad = keoMuxReleasePad;
    G_OBJECT_CLASS(klass)->finalize = keoMuxFinalize;

    GstAggregatorClass* aggClass = GST_AGGREGATOR_CLASS(klass);
    aggClass->aggregate = keoMuxAggregate;
    aggClass->sink_event = keoMuxSinkEvent;
    aggClass->start = keoMuxStart;
    aggClass->stop = keoMuxStop;
    aggClass->create_new_pad = keoMuxCreateNewPad;
}

static void gst_keo_mux_init(GstKeoMux* self) {
    // Without caps the infos have no format, which the macros read.
    gst_audio_info_init(&self->audio);
    gst_audio_info_init(&self->stored);
    // Not yet a file: a zeroed instance would take descriptor 0 for one.
    self->sound.fd = -1;
    resetWriting(self);
}
