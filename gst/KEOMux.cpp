// keomux, a GstAggregator over the movie writer (container/MovFile): its
// pads, caps and properties here, its recording in KEOMuxRecord.cpp.
#include "gst/KEOMux.h"

#include <cstring>

#include <gst/audio/audio.h>
#include <gst/video/video.h>

#include "codec/FramePayload.h"
#include "container/atoms/SampleDescription.h"
#include "gst/KEOElement.h"
#include "gst/KEOMuxState.h"

GST_DEBUG_CATEGORY(keo_mux_debug);
#define GST_CAT_DEFAULT keo_mux_debug

// The writer's limits: 16-bit frame sides, rates up to a million frames per
// second (checked when the movie starts).
#define KEO_MUX_FRAME                                                                              \
    "width = (int) [ 1, 65535 ], height = (int) [ 1, 65535 ], framerate = (fraction) [ 0/1, MAX ]"
#define KEO_MUX_FRAMES "video/x-keo, " KEO_MUX_FRAME "; video/x-gst-fourcc-ZUVM, " KEO_MUX_FRAME
// The sound rates a movie holds (QuicktimeSoundRateFits): its description's
// 16-bit rate field, but for the two values readers take for 88200 and
// 96000 Hz, and those two. audioresample upstream converts any other. The
// range of the usual rates comes first: upstream settles a free rate in the
// first structure that takes it (44100 Hz for audiotestsrc).
#define KEO_MUX_SOUND(rates)                                                                       \
    "audio/x-raw, format = (string) { S16LE, S24LE, S32LE, F32LE }, "                              \
    "layout = (string) interleaved, channels = (int) [ 1, 65535 ], rate = (int) " rates
#define KEO_MUX_USUAL_RATES KEO_MUX_SOUND("[ 30465, 65535 ]")
#define KEO_MUX_OTHER_RATES                                                                        \
    KEO_MUX_SOUND("[ 1, 22663 ]")                                                                  \
    "; " KEO_MUX_SOUND("[ 22665, 30463 ]") "; " KEO_MUX_SOUND("{ 88200, 96000 }")

// video/x-gst-fourcc-ZUVM too: what qtdemux gives for a KEO movie's frames,
// so a movie can be rewritten without decoding. video_%u is the name
// qtmux's video pads have, so pipelines written for it link here too.
static GstStaticPadTemplate videoTemplate = GST_STATIC_PAD_TEMPLATE(
    "video", GST_PAD_SINK, GST_PAD_REQUEST, GST_STATIC_CAPS(KEO_MUX_FRAMES));
static GstStaticPadTemplate videoNTemplate = GST_STATIC_PAD_TEMPLATE(
    "video_%u", GST_PAD_SINK, GST_PAD_REQUEST, GST_STATIC_CAPS(KEO_MUX_FRAMES));

static GstStaticPadTemplate audioTemplate =
    GST_STATIC_PAD_TEMPLATE("audio_%u", GST_PAD_SINK, GST_PAD_REQUEST,
                            GST_STATIC_CAPS(KEO_MUX_USUAL_RATES "; " KEO_MUX_OTHER_RATES));

static GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/quicktime"));

enum { PROP_0, PROP_FRAMERATE, PROP_RESERVED_MAX_DURATION, PROP_RESERVED_MOOV_UPDATE_PERIOD };

G_DEFINE_TYPE(GstKeoMux, gst_keo_mux, GST_TYPE_AGGREGATOR)

GST_ELEMENT_REGISTER_DEFINE(keomux, "keomux", GST_RANK_PRIMARY, GST_TYPE_KEO_MUX)

namespace {

bool isVideoPad(GstKeoMux* self, GstAggregatorPad* pad) {
    GST_OBJECT_LOCK(self);
    const bool video = pad == self->videoPad;
    GST_OBJECT_UNLOCK(self);
    return video;
}

// What a pad takes: its template's caps, and once the movie has started
// only what the movie holds: its frame size (and its rate when that came
// from the caps), its sound's format. Under the object lock.
GstCaps* padCaps(GstKeoMux* self, GstAggregatorPad* pad, bool video) {
    GstCaps* caps = gst_pad_get_pad_template_caps(GST_PAD(pad));
    if (!self->started || (!video && !self->storesSound))
        return caps;
    GstCaps* held;
    if (video) {
        held = gst_caps_new_simple("video/x-keo", "width", G_TYPE_INT, self->movieW, "height",
                                   G_TYPE_INT, self->movieH, nullptr);
        if (self->capsRate.num > 0)
            gst_caps_set_simple(held, "framerate", GST_TYPE_FRACTION, self->capsRate.num,
                                self->capsRate.den, nullptr);
        GstStructure* same = gst_structure_copy(gst_caps_get_structure(held, 0));
        gst_structure_set_name(same, "video/x-gst-fourcc-ZUVM");
        gst_caps_append_structure(held, same);
    } else {
        held =
            gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING,
                                gst_audio_format_to_string(GST_AUDIO_INFO_FORMAT(&self->stored)),
                                "rate", G_TYPE_INT, GST_AUDIO_INFO_RATE(&self->stored), "channels",
                                G_TYPE_INT, GST_AUDIO_INFO_CHANNELS(&self->stored), nullptr);
    }
    GstCaps* both = gst_caps_intersect(caps, held);
    gst_caps_unref(caps);
    gst_caps_unref(held);
    return both;
}

// Caps are offered and accepted by what padCaps says, so a size or rate
// change after the first frame is refused when it is negotiated: upstream
// sees not-negotiated, and no frame of another size reaches the movie.
bool answerCapsQuery(GstKeoMux* self, GstAggregatorPad* pad, GstQuery* query) {
    const bool video = isVideoPad(self, pad);
    GST_OBJECT_LOCK(self);
    GstCaps* allowed = padCaps(self, pad, video);
    GST_OBJECT_UNLOCK(self);
    if (GST_QUERY_TYPE(query) == GST_QUERY_CAPS) {
        GstCaps* filter = nullptr;
        gst_query_parse_caps(query, &filter);
        if (filter) {
            GstCaps* both = gst_caps_intersect_full(filter, allowed, GST_CAPS_INTERSECT_FIRST);
            gst_caps_unref(allowed);
            allowed = both;
        }
        gst_query_set_caps_result(query, allowed);
    } else {
        GstCaps* caps = nullptr;
        gst_query_parse_accept_caps(query, &caps);
        gst_query_set_accept_caps_result(query, gst_caps_is_subset(caps, allowed));
    }
    gst_caps_unref(allowed);
    return true;
}

bool takeVideoCaps(GstKeoMux* self, GstCaps* caps) {
    GstStructure* s = gst_caps_get_structure(caps, 0);
    int width = 0, height = 0, fpsN = 0, fpsD = 1;
    gst_structure_get_int(s, "width", &width);
    gst_structure_get_int(s, "height", &height);
    gst_structure_get_fraction(s, "framerate", &fpsN, &fpsD);
    if (!KEOPictureFits(width, height)) {
        GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                          ("Frames of %dx%d pixels cannot be stored.", width, height), (nullptr));
        return false;
    }
    GST_OBJECT_LOCK(self);
    const bool changed =
        self->started && (width != self->movieW || height != self->movieH ||
                          (self->capsRate.num > 0 && int64_t{fpsN} * self->capsRate.den !=
                                                         int64_t{self->capsRate.num} * fpsD));
    if (!changed) {
        self->width = width;
        self->height = height;
        self->fpsN = fpsN;
        self->fpsD = fpsD > 0 ? fpsD : 1;
        self->haveVideoCaps = TRUE;
    }
    const int movieW = self->movieW, movieH = self->movieH;
    GST_OBJECT_UNLOCK(self);
    if (changed)
        GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                          ("The frame size or rate changed from the movie's %dx%d to %dx%d at "
                           "%d/%d; a movie has one.",
                           movieW, movieH, width, height, fpsN, fpsD),
                          (nullptr));
    return !changed;
}

bool takeSoundCaps(GstKeoMux* self, GstCaps* caps) {
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, caps) ||
        KEOMuxStoredBits(GST_AUDIO_INFO_FORMAT(&info)) == 0 ||
        !QuicktimeSoundRateFits(GST_AUDIO_INFO_RATE(&info))) {
        GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("The sound's caps cannot be stored."),
                          ("%" GST_PTR_FORMAT, caps));
        return false;
    }
    GST_OBJECT_LOCK(self);
    const bool changed = self->started && self->storesSound &&
                         (GST_AUDIO_INFO_FORMAT(&info) != GST_AUDIO_INFO_FORMAT(&self->stored) ||
                          GST_AUDIO_INFO_RATE(&info) != GST_AUDIO_INFO_RATE(&self->stored) ||
                          GST_AUDIO_INFO_CHANNELS(&info) != GST_AUDIO_INFO_CHANNELS(&self->stored));
    if (!changed) {
        self->audio = info;
        self->haveAudioCaps = TRUE;
    }
    GST_OBJECT_UNLOCK(self);
    if (changed)
        GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                          ("The sound's format changed; a movie's sound track has one."),
                          ("now %" GST_PTR_FORMAT, caps));
    return !changed;
}

} // namespace

static GstFlowReturn keoMuxAggregate(GstAggregator* agg, gboolean) {
    GstKeoMux* self = GST_KEO_MUX(agg);
    if (self->finished)
        return GST_FLOW_EOS;
    if (!self->movie) {
        const GstFlowReturn started = KEOMuxStart(self);
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
        const GstClockTime t = KEOMuxRunningTime(pad, head);
        gst_buffer_unref(head);
        if (!next ||
            (GST_CLOCK_TIME_IS_VALID(nextTime) && (!GST_CLOCK_TIME_IS_VALID(t) || t < nextTime))) {
            next = pad;
            nextTime = t;
        }
    }
    if (!next)
        return waiting ? GST_FLOW_OK : KEOMuxFinish(self);
    GstBuffer* buffer = gst_aggregator_pad_pop_buffer(next);
    const GstFlowReturn result = next == self->videoPad ? KEOMuxTakeFrame(self, buffer, nextTime)
                                                        : KEOMuxTakeSound(self, buffer, nextTime);
    gst_buffer_unref(buffer);
    return result;
}

static gboolean keoMuxSinkEvent(GstAggregator* agg, GstAggregatorPad* pad, GstEvent* event) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstKeoMux* self = GST_KEO_MUX(agg);
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        if (!(isVideoPad(self, pad) ? takeVideoCaps(self, caps) : takeSoundCaps(self, caps))) {
            gst_event_unref(event);
            return FALSE;
        }
    }
    return GST_AGGREGATOR_CLASS(gst_keo_mux_parent_class)->sink_event(agg, pad, event);
}

static gboolean keoMuxSinkQuery(GstAggregator* agg, GstAggregatorPad* pad, GstQuery* query) {
    if (GST_QUERY_TYPE(query) == GST_QUERY_CAPS || GST_QUERY_TYPE(query) == GST_QUERY_ACCEPT_CAPS)
        return answerCapsQuery(GST_KEO_MUX(agg), pad, query);
    return GST_AGGREGATOR_CLASS(gst_keo_mux_parent_class)->sink_query(agg, pad, query);
}

static gboolean keoMuxStart(GstAggregator* agg) {
    KEOMuxReset(GST_KEO_MUX(agg));
    return TRUE;
}

static gboolean keoMuxStop(GstAggregator* agg) {
    GstKeoMux* self = GST_KEO_MUX(agg);
    KEOMuxAbandon(self);
    KEOMuxReset(self);
    return TRUE;
}

static GstAggregatorPad* keoMuxCreateNewPad(GstAggregator* agg, GstPadTemplate* templ,
                                            const gchar* requested, const GstCaps*) {
    GstKeoMux* self = GST_KEO_MUX(agg);
    const char* kind = GST_PAD_TEMPLATE_NAME_TEMPLATE(templ);
    const bool video = g_str_has_prefix(kind, "video");
    const char* refusal = nullptr;
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
    const bool named = requested && !std::strchr(requested, '%');
    const char* name = std::strcmp(kind, "video") == 0 ? "video"
                       : named                         ? requested
                       : video                         ? "video_0"
                                                       : "audio_0";
    GstAggregatorPad* pad =
        GST_AGGREGATOR_PAD(g_object_new(GST_TYPE_AGGREGATOR_PAD, "name", name, "direction",
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

static void keoMuxSetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstKeoMux* self = GST_KEO_MUX(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_FRAMERATE:
        self->rateN = gst_value_get_fraction_numerator(value);
        self->rateD = gst_value_get_fraction_denominator(value);
        break;
    case PROP_RESERVED_MAX_DURATION:
        self->reservedMaxDuration = g_value_get_uint64(value);
        break;
    case PROP_RESERVED_MOOV_UPDATE_PERIOD:
        self->reservedUpdatePeriod = g_value_get_uint64(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
    GST_OBJECT_UNLOCK(self);
}

static void keoMuxGetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstKeoMux* self = GST_KEO_MUX(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_FRAMERATE:
        gst_value_set_fraction(value, self->rateN, self->rateD);
        break;
    case PROP_RESERVED_MAX_DURATION:
        g_value_set_uint64(value, self->reservedMaxDuration);
        break;
    case PROP_RESERVED_MOOV_UPDATE_PERIOD:
        g_value_set_uint64(value, self->reservedUpdatePeriod);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
    GST_OBJECT_UNLOCK(self);
}

static void keoMuxFinalize(GObject* object) {
    GstKeoMux* self = GST_KEO_MUX(object);
    KEOMuxReset(self);
    delete self->frameTimes;
    delete self->unpacked;
    G_OBJECT_CLASS(gst_keo_mux_parent_class)->finalize(object);
}

static void installProperties(GObjectClass* objectClass) {
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                GST_PARAM_MUTABLE_READY);
    g_object_class_install_property(
        objectClass, PROP_FRAMERATE,
        gst_param_spec_fraction("framerate", "Frame rate",
                                "The movie's rate, every frame placed at its time on it (0/1: the "
                                "caps' rate, or the frames' own from their timestamps)",
                                0, 1, G_MAXINT, 1, 0, 1, flags));
    g_object_class_install_property(
        objectClass, PROP_RESERVED_MAX_DURATION,
        g_param_spec_uint64("reserved-max-duration", "Reserved maximum duration",
                            "When set to a value > 0, reserves room at the start of the file for "
                            "the header of a movie this long (ns)",
                            0, G_MAXUINT64, GST_CLOCK_TIME_NONE, flags));
    g_object_class_install_property(
        objectClass, PROP_RESERVED_MOOV_UPDATE_PERIOD,
        g_param_spec_uint64("reserved-moov-update-period", "Header update period",
                            "With reserved-max-duration, rewrites the header in its room this "
                            "often (ns), the sound written beside the frames, so that a recording "
                            "cut off keeps what was written up to the last update",
                            0, G_MAXUINT64, GST_CLOCK_TIME_NONE, flags));
}

static void gst_keo_mux_class_init(GstKeoMuxClass* klass) {
    GST_DEBUG_CATEGORY_INIT(keo_mux_debug, "keomux", 0, "KEO movie muxer");
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = keoMuxSetProperty;
    objectClass->get_property = keoMuxGetProperty;
    objectClass->finalize = keoMuxFinalize;
    installProperties(objectClass);

    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    for (GstStaticPadTemplate* templ : {&videoTemplate, &videoNTemplate, &audioTemplate})
        gst_element_class_add_static_pad_template_with_gtype(elementClass, templ,
                                                             GST_TYPE_AGGREGATOR_PAD);
    KEODescribeElement(elementClass, nullptr, &srcTemplate, "KEO movie muxer", "Codec/Muxer",
                       "Writes KEO frames and raw sound into a KEO movie (QuickTime)");
    elementClass->release_pad = keoMuxReleasePad;

    GstAggregatorClass* aggClass = GST_AGGREGATOR_CLASS(klass);
    aggClass->aggregate = keoMuxAggregate;
    aggClass->sink_event = keoMuxSinkEvent;
    aggClass->sink_query = keoMuxSinkQuery;
    aggClass->start = keoMuxStart;
    aggClass->stop = keoMuxStop;
    aggClass->create_new_pad = keoMuxCreateNewPad;
}

static void gst_keo_mux_init(GstKeoMux* self) {
    // Without caps the infos have no format, which the macros read.
    gst_audio_info_init(&self->audio);
    gst_audio_info_init(&self->stored);
    self->rateN = 0;
    self->rateD = 1;
    self->reservedMaxDuration = GST_CLOCK_TIME_NONE;
    self->reservedUpdatePeriod = GST_CLOCK_TIME_NONE;
    KEOMuxReset(self);
}
