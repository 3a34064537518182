// keodec, a GstVideoDecoder over the codec's DecodeFramePayloadInto.
#include "gst/KEODec.h"

#include <climits>
#include <cstdint>

#include <gst/video/video.h>

#include "base/ByteBuffer.h"
#include "base/PixelOrder.h"
#include "codec/FrameDecodeAhead.h"
#include "codec/FramePayload.h"
#include "gst/KEOElement.h"

GST_DEBUG_CATEGORY_STATIC(keo_dec_debug);
#define GST_CAT_DEFAULT keo_dec_debug

#define KEO_FRAME_SIZE "width = (int) [ 1, MAX ], height = (int) [ 1, MAX ]"

static GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-gst-fourcc-ZUVM, " KEO_FRAME_SIZE "; video/x-keo, " KEO_FRAME_SIZE));

// ARGB first: it is the codec's own order and costs no reordering, so it is
// what a downstream that takes anything gets.
static GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ ARGB, BGRA, RGBA, BGRx, RGBx }")));

// A frame between the start of its decode and its end, its input and output
// mapped meanwhile.
struct PendingFrame {
    GstVideoCodecFrame* frame; // null when there is none
    GstMapInfo in;
    GstVideoFrame out;
    keo::PixelLayout order;
    KEOFrameDecode decode;
};

enum { PROP_0, PROP_DECODE_AHEAD };

struct _GstKeoDec {
    GstVideoDecoder parent;
    GstVideoCodecState* input; // the sink caps: frame size, rate, aspect
    int width, height;
    // Set by handle_frame before it asks for negotiation: whether the frame
    // at hand carries alpha, so the chosen format keeps it where it can.
    gboolean wantAlpha;
    // Output chosen for the current input caps; whether it has alpha; whether
    // an alpha format was already asked for (asked once per input caps, so a
    // downstream without one is not queried again on every frame).
    gboolean outputChosen, outputHasAlpha, alphaAsked;
    // The order the output is in; the "x" formats are the same bytes with
    // alpha for the consumer to ignore.
    keo::PixelLayout order;
    // The LZF output of a frame, kept from one frame to the next, as the
    // importer keeps one per open movie.
    keo::ByteBuffer scratch;
    // Frames are decoded in pairs, one on a decode worker and the next here
    // at the same time, when the "decode-ahead" property asks for it and the
    // stream has a frame rate to state the one frame of latency that costs
    // (set_format). decodeAhead is read under the object lock.
    gboolean decodeAhead;
    gboolean pairFrames;
    // The first of a pair while its decode runs on the worker: finished
    // (pushed or dropped) after the second has decoded, or before anything
    // that must not pass it (new caps, a new output format, EOS, a flush).
    PendingFrame pending;
};

G_DEFINE_TYPE(GstKeoDec, gst_keo_dec, GST_TYPE_VIDEO_DECODER)

GST_ELEMENT_REGISTER_DEFINE(keodec, "keodec", GST_RANK_PRIMARY, GST_TYPE_KEO_DEC)

namespace {

// The pictures the codec decodes; the element refuses others before a pool
// of such buffers is ever set up.
bool frameSizeDecodable(int width, int height) {
    return KEOPictureFits(width, height);
}

keo::PixelLayout orderOf(GstVideoFormat format) {
    switch (format) {
    case GST_VIDEO_FORMAT_BGRA:
    case GST_VIDEO_FORMAT_BGRx:
        return keo::PixelLayout::BGRA;
    case GST_VIDEO_FORMAT_RGBA:
    case GST_VIDEO_FORMAT_RGBx:
        return keo::PixelLayout::RGBA;
    default:
        return keo::PixelLayout::ARGB;
    }
}

bool formatHasAlpha(GstVideoFormat format) {
    return GST_VIDEO_FORMAT_INFO_HAS_ALPHA(gst_video_format_get_info(format));
}

// Calls `visit` with each format of `caps` in order, until it returns true.
template <typename Visit> void forEachFormat(GstCaps* caps, Visit visit) {
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GValue* value = gst_structure_get_value(gst_caps_get_structure(caps, i), "format");
        if (value == nullptr)
            continue;
        if (G_VALUE_HOLDS_STRING(value)) {
            if (visit(gst_video_format_from_string(g_value_get_string(value))))
                return;
        } else if (GST_VALUE_HOLDS_LIST(value)) {
            for (guint k = 0; k < gst_value_list_get_size(value); ++k) {
                const GValue* item = gst_value_list_get_value(value, k);
                if (G_VALUE_HOLDS_STRING(item) &&
                    visit(gst_video_format_from_string(g_value_get_string(item))))
                    return;
            }
        }
    }
}

// The first format downstream accepts, or the first with alpha when that is
// wanted and there is one; without a peer, the template's first.
GstVideoFormat chooseFormat(GstKeoDec* self, gboolean wantAlpha) {
    // Asked without a filter and intersected with downstream's caps first,
    // since a peer that intersects with our filter keeps our order, not its.
    GstPad* src = GST_VIDEO_DECODER_SRC_PAD(self);
    GstCaps* peer = gst_pad_peer_query_caps(src, nullptr);
    if (peer == nullptr)
        return GST_VIDEO_FORMAT_ARGB;
    GstCaps* ours = gst_pad_get_pad_template_caps(src);
    GstCaps* allowed = gst_caps_intersect_full(peer, ours, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(peer);
    gst_caps_unref(ours);
    GstVideoFormat first = GST_VIDEO_FORMAT_UNKNOWN, firstAlpha = GST_VIDEO_FORMAT_UNKNOWN;
    forEachFormat(allowed, [&](GstVideoFormat format) {
        if (format == GST_VIDEO_FORMAT_UNKNOWN)
            return false;
        if (first == GST_VIDEO_FORMAT_UNKNOWN)
            first = format;
        if (formatHasAlpha(format)) {
            firstAlpha = format;
            return true;
        }
        return !wantAlpha;
    });
    gst_caps_unref(allowed);
    return wantAlpha && firstAlpha != GST_VIDEO_FORMAT_UNKNOWN ? firstAlpha : first;
}

} // namespace

static gboolean keoDecStart(GstVideoDecoder* decoder) {
    GstKeoDec* self = GST_KEO_DEC(decoder);
    self->outputChosen = self->outputHasAlpha = self->alphaAsked = FALSE;
    return TRUE;
}

static void releasePending(GstKeoDec* self);
static GstFlowReturn finishPending(GstKeoDec* self);

static gboolean keoDecStop(GstVideoDecoder* decoder) {
    GstKeoDec* self = GST_KEO_DEC(decoder);
    releasePending(self);
    g_clear_pointer(&self->input, gst_video_codec_state_unref);
    keo::release(self->scratch);
    return TRUE;
}

// Frames are decoded in pairs when the rate is known: the first of a pair
// goes out when the second has decoded, one frame late, which the latency
// says so that live pipelines wait for it.
static void choosePairing(GstKeoDec* self, const GstStructure* caps) {
    GST_OBJECT_LOCK(self);
    const gboolean wanted = self->decodeAhead;
    GST_OBJECT_UNLOCK(self);
    int rateN = 0, rateD = 0;
    self->pairFrames = wanted && gst_structure_get_fraction(caps, "framerate", &rateN, &rateD) &&
                       rateN > 0 && rateD > 0;
    const GstClockTime frame =
        self->pairFrames ? gst_util_uint64_scale(GST_SECOND, rateD, rateN) : 0;
    gst_video_decoder_set_latency(GST_VIDEO_DECODER(self), frame, frame);
}

static gboolean keoDecSetFormat(GstVideoDecoder* decoder, GstVideoCodecState* state) {
    GstKeoDec* self = GST_KEO_DEC(decoder);
    // The frame decoding on a worker goes out with the caps it was made for.
    finishPending(self);
    const GstStructure* s = gst_caps_get_structure(state->caps, 0);
    int width = 0, height = 0;
    if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height))
        return FALSE;
    if (!frameSizeDecodable(width, height)) {
        GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                          ("KEO frames of %dx%d pixels are too large to decode.", width, height),
                          ("a picture may take at most 2^31 bytes"));
        return FALSE;
    }
    g_clear_pointer(&self->input, gst_video_codec_state_unref);
    self->input = gst_video_codec_state_ref(state);
    self->width = width;
    self->height = height;
    self->outputChosen = self->alphaAsked = FALSE;
    choosePairing(self, s);
    // Named in tags, since media tools describe an unknown caps name by itself.
    GstTagList* tags = gst_tag_list_new(GST_TAG_VIDEO_CODEC, "KEO", nullptr);
    gst_video_decoder_merge_tags(decoder, tags, GST_TAG_MERGE_REPLACE);
    gst_tag_list_unref(tags);
    return TRUE;
}

// Also called by the base class when downstream asks to reconfigure, so the
// format is chosen afresh from what downstream takes now.
static gboolean keoDecNegotiate(GstVideoDecoder* decoder) {
    GstKeoDec* self = GST_KEO_DEC(decoder);
    if (self->input == nullptr)
        return FALSE;
    const GstVideoFormat format = chooseFormat(self, self->wantAlpha || self->outputHasAlpha);
    if (format == GST_VIDEO_FORMAT_UNKNOWN)
        return FALSE;
    GstVideoCodecState* output =
        gst_video_decoder_set_output_state(decoder, format, self->width, self->height, self->input);
    if (output == nullptr)
        return FALSE;
    // The encoder takes its frames from a host's sRGB pictures, full range.
    gst_video_colorimetry_from_string(&output->info.colorimetry, GST_VIDEO_COLORIMETRY_SRGB);
    gst_video_codec_state_unref(output);
    GST_DEBUG_OBJECT(self, "output %s", gst_video_format_to_string(format));
    self->order = orderOf(format);
    self->outputHasAlpha = formatHasAlpha(format);
    return GST_VIDEO_DECODER_CLASS(gst_keo_dec_parent_class)->negotiate(decoder);
}

// The default pool is a video buffer pool that hands its buffers back for
// reuse; video meta lets a downstream pool with its own row pitch be used too.
static gboolean keoDecDecideAllocation(GstVideoDecoder* decoder, GstQuery* query) {
    if (!GST_VIDEO_DECODER_CLASS(gst_keo_dec_parent_class)->decide_allocation(decoder, query))
        return FALSE;
    GstBufferPool* pool = nullptr;
    if (gst_query_get_n_allocation_pools(query) > 0)
        gst_query_parse_nth_allocation_pool(query, 0, &pool, nullptr, nullptr, nullptr);
    if (pool == nullptr)
        return FALSE;
    GstStructure* config = gst_buffer_pool_get_config(pool);
    if (gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr))
        gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
    const gboolean set = gst_buffer_pool_set_config(pool, config);
    gst_object_unref(pool);
    return set;
}

// Chooses or changes the output format when the stream needs it: on the first
// frame after new caps, and when a frame with alpha meets an output without.
static GstFlowReturn ensureOutput(GstKeoDec* self, gboolean frameHasAlpha) {
    const gboolean alphaMissing = frameHasAlpha && !self->outputHasAlpha && !self->alphaAsked;
    if (self->outputChosen && !alphaMissing)
        return GST_FLOW_OK;
    self->wantAlpha = frameHasAlpha;
    self->alphaAsked = self->alphaAsked || frameHasAlpha;
    const gboolean negotiated = gst_video_decoder_negotiate(GST_VIDEO_DECODER(self));
    self->wantAlpha = FALSE;
    if (!negotiated)
        return GST_PAD_IS_FLUSHING(GST_VIDEO_DECODER_SRC_PAD(self)) ? GST_FLOW_FLUSHING
                                                                    : GST_FLOW_NOT_NEGOTIATED;
    self->outputChosen = TRUE;
    return GST_FLOW_OK;
}

// A frame that did not decode, dropped while the stream goes on (within
// max-errors): the base class only logs it, so an application would never
// learn of it. The warning names the frame, counted from the start of the
// stream, and why; its details carry both for programs ("frame", "reason",
// and the frame's "pts").
static void warnDropped(GstKeoDec* self, const GstVideoCodecFrame* frame, gsize size) {
    const char* reason = size < kKEOFrameHeaderSize
                             ? "it is shorter than a KEO frame header"
                             : "its header or its blocks are damaged or cut short";
    GST_ELEMENT_WARNING_WITH_DETAILS(
        self, STREAM, DECODE, ("KEO frame %u was dropped: %s.", frame->system_frame_number, reason),
        ("frame %u at %" GST_TIME_FORMAT ": %" G_GSIZE_FORMAT
         " bytes are no KEO payload of %dx%d; max-errors=0 makes this an error",
         frame->system_frame_number, GST_TIME_ARGS(frame->pts), size, self->width, self->height),
        ("frame", G_TYPE_UINT, frame->system_frame_number, "reason", G_TYPE_STRING, reason, "pts",
         G_TYPE_UINT64, static_cast<guint64>(frame->pts), nullptr));
}

// Pushes a frame whose decode has ended, or drops it with the error that
// max-errors counts; unmaps its buffers first.
static GstFlowReturn completeFrame(GstKeoDec* self, PendingFrame* p, int result) {
    GstVideoDecoder* decoder = GST_VIDEO_DECODER(self);
    const bool decoded = result == kKEODecodeOK;
    // The codec's own order needs nothing more; others are rewritten where
    // they lie.
    if (decoded && p->order != keo::PixelLayout::ARGB) {
        unsigned char* pixels = static_cast<unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(&p->out, 0));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&p->out, 0);
        keo::convertPixels({keo::PixelLayout::ARGB, p->order}, pixels, stride, pixels, stride,
                           self->width, self->height);
    }
    gst_video_frame_unmap(&p->out);
    const gsize size = p->in.size;
    gst_buffer_unmap(p->frame->input_buffer, &p->in);
    GstVideoCodecFrame* frame = p->frame;
    p->frame = nullptr;
    if (decoded)
        return gst_video_decoder_finish_frame(decoder, frame);
    GstFlowReturn ret = GST_FLOW_OK;
    GST_VIDEO_DECODER_ERROR(self, 1, STREAM, DECODE, ("Could not decode a KEO frame."),
                            ("frame %u: %" G_GSIZE_FORMAT " bytes are no KEO payload of %dx%d",
                             frame->system_frame_number, size, self->width, self->height),
                            ret);
    if (ret == GST_FLOW_OK)
        warnDropped(self, frame, size);
    gst_video_decoder_drop_frame(decoder, frame);
    return ret;
}

// Decodes the mapped frame here; 0 or 99.
static int decodeHere(GstKeoDec* self, const PendingFrame& p) {
    if (p.in.size > UINT_MAX)
        return kKEODecodeFailed;
    return DecodeFramePayloadInto(
        p.in.data, static_cast<unsigned int>(p.in.size), self->width, self->height,
        static_cast<unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(&p.out, 0)),
        GST_VIDEO_FRAME_PLANE_STRIDE(&p.out, 0), false, &self->scratch);
}

// Starts the mapped frame's decode on a decode worker and keeps it as the
// pending frame; false, having decoded it here, when no worker was idle.
static bool startPending(GstKeoDec* self, PendingFrame* p, int* result) {
    if (p->in.size > UINT_MAX) {
        *result = kKEODecodeFailed;
        return false;
    }
    // The worker writes the result into the record it is given, so that is
    // the element's own, not this call's.
    PendingFrame* kept = &self->pending;
    *kept = *p;
    const bool started = KEOStartFrameDecode(
        &kept->decode, kept->in.data, static_cast<unsigned int>(kept->in.size), self->width,
        self->height, static_cast<unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(&kept->out, 0)),
        GST_VIDEO_FRAME_PLANE_STRIDE(&kept->out, 0), false);
    if (started)
        return true;
    *result = KEOFinishFrameDecode(&kept->decode);
    kept->frame = nullptr;
    return false;
}

// Ends the pending frame's decode and pushes or drops it; OK without one.
static GstFlowReturn finishPending(GstKeoDec* self) {
    if (self->pending.frame == nullptr)
        return GST_FLOW_OK;
    const int result = KEOFinishFrameDecode(&self->pending.decode);
    return completeFrame(self, &self->pending, result);
}

// Ends the pending frame's decode and lets it go unpushed (flush, stop).
static void releasePending(GstKeoDec* self) {
    PendingFrame* p = &self->pending;
    if (p->frame == nullptr)
        return;
    KEOFinishFrameDecode(&p->decode);
    gst_video_frame_unmap(&p->out);
    gst_buffer_unmap(p->frame->input_buffer, &p->in);
    gst_video_decoder_release_frame(GST_VIDEO_DECODER(self), p->frame);
    p->frame = nullptr;
}

// Maps the frame's input and a new output buffer for it, choosing the output
// format first when the stream needs one. On failure the frame is dropped.
static GstFlowReturn mapFrame(GstKeoDec* self, GstVideoCodecFrame* frame, PendingFrame* p) {
    GstVideoDecoder* decoder = GST_VIDEO_DECODER(self);
    p->frame = frame;
    if (!gst_buffer_map(frame->input_buffer, &p->in, GST_MAP_READ)) {
        gst_video_decoder_drop_frame(decoder, frame);
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read a KEO frame."), (nullptr));
        return GST_FLOW_ERROR;
    }
    // Only the alpha flag is looked at here; the decoder checks the rest.
    KEOFrameHeader header{};
    if (p->in.size >= kKEOFrameHeaderSize)
        header.read(p->in.data);
    GstFlowReturn ret = ensureOutput(self, header.hasAlpha != 0);
    if (ret == GST_FLOW_OK)
        ret = gst_video_decoder_allocate_output_frame(decoder, frame);
    GstVideoCodecState* output =
        ret == GST_FLOW_OK ? gst_video_decoder_get_output_state(decoder) : nullptr;
    const bool mapped =
        output != nullptr &&
        gst_video_frame_map(&p->out, &output->info, frame->output_buffer, GST_MAP_WRITE);
    if (output)
        gst_video_codec_state_unref(output);
    if (ret == GST_FLOW_OK && !mapped)
        ret = GST_FLOW_ERROR;
    if (ret != GST_FLOW_OK) {
        gst_buffer_unmap(frame->input_buffer, &p->in);
        gst_video_decoder_drop_frame(decoder, frame);
        return ret;
    }
    p->order = self->order;
    return GST_FLOW_OK;
}

// Whether this frame may leave the pending one behind: not when it would
// choose or change the output format, which the pending frame's buffer has.
static bool mayPassPending(GstKeoDec* self, const GstVideoCodecFrame* frame) {
    GstMapInfo in;
    if (!gst_buffer_map(frame->input_buffer, &in, GST_MAP_READ))
        return false;
    const bool alpha = in.size >= kKEOFrameHeaderSize && in.data[5] != 0;
    gst_buffer_unmap(frame->input_buffer, &in);
    const bool alphaMissing = alpha && !self->outputHasAlpha && !self->alphaAsked;
    return self->outputChosen && !alphaMissing &&
           !GST_PAD_NEEDS_RECONFIGURE(GST_VIDEO_DECODER_SRC_PAD(self));
}

// Frames in pairs: the first starts on a decode worker and waits; the second
// decodes here meanwhile, then both go out in order.
static GstFlowReturn keoDecHandleFrame(GstVideoDecoder* decoder, GstVideoCodecFrame* frame) {
    GstKeoDec* self = GST_KEO_DEC(decoder);
    GstFlowReturn pendingRet = GST_FLOW_OK;
    if (self->pending.frame && !mayPassPending(self, frame))
        pendingRet = finishPending(self);
    if (pendingRet != GST_FLOW_OK) {
        gst_video_decoder_release_frame(decoder, frame);
        return pendingRet;
    }
    PendingFrame p;
    GstFlowReturn ret = mapFrame(self, frame, &p);
    if (ret != GST_FLOW_OK) {
        finishPending(self);
        return ret;
    }
    int result;
    if (self->pending.frame == nullptr && self->pairFrames) {
        if (startPending(self, &p, &result))
            return GST_FLOW_OK;
    } else {
        result = decodeHere(self, p);
    }
    const GstFlowReturn first = finishPending(self);
    ret = completeFrame(self, &p, result);
    return first != GST_FLOW_OK ? first : ret;
}

static GstFlowReturn keoDecFinish(GstVideoDecoder* decoder) {
    return finishPending(GST_KEO_DEC(decoder));
}

static gboolean keoDecFlush(GstVideoDecoder* decoder) {
    releasePending(GST_KEO_DEC(decoder));
    return TRUE;
}

static void keoDecSetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstKeoDec* self = GST_KEO_DEC(object);
    if (id != PROP_DECODE_AHEAD) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    GST_OBJECT_LOCK(self);
    self->decodeAhead = g_value_get_boolean(value);
    GST_OBJECT_UNLOCK(self);
}

static void keoDecGetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstKeoDec* self = GST_KEO_DEC(object);
    if (id != PROP_DECODE_AHEAD) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    GST_OBJECT_LOCK(self);
    g_value_set_boolean(value, self->decodeAhead);
    GST_OBJECT_UNLOCK(self);
}

static void keoDecFinalize(GObject* object) {
    GstKeoDec* self = GST_KEO_DEC(object);
    g_clear_pointer(&self->input, gst_video_codec_state_unref);
    keo::release(self->scratch);
    G_OBJECT_CLASS(gst_keo_dec_parent_class)->finalize(object);
}

static void gst_keo_dec_class_init(GstKeoDecClass* klass) {
    GST_DEBUG_CATEGORY_INIT(keo_dec_debug, "keodec", 0, "KEO video decoder");
    KEODescribeElement(
        GST_ELEMENT_CLASS(klass), &sinkTemplate, &srcTemplate, "KEO video decoder",
        "Codec/Decoder/Video",
        "Decodes KEO frames (DXT1, DXT5 and DXT24 blocks, plain or LZF) into raw video");
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    objectClass->finalize = keoDecFinalize;
    objectClass->set_property = keoDecSetProperty;
    objectClass->get_property = keoDecGetProperty;
    g_object_class_install_property(
        objectClass, PROP_DECODE_AHEAD,
        g_param_spec_boolean(
            "decode-ahead", "Decode ahead",
            "Decode frames two at a time on two cores, each pair going out when both are done: "
            "more frames a second for one frame of latency (with a frame rate in the caps; read "
            "at each new caps)",
            FALSE, static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));

    GstVideoDecoderClass* decoderClass = GST_VIDEO_DECODER_CLASS(klass);
    decoderClass->start = keoDecStart;
    decoderClass->stop = keoDecStop;
    decoderClass->set_format = keoDecSetFormat;
    decoderClass->negotiate = keoDecNegotiate;
    decoderClass->decide_allocation = keoDecDecideAllocation;
    decoderClass->handle_frame = keoDecHandleFrame;
    decoderClass->finish = keoDecFinish;
    decoderClass->drain = keoDecFinish;
    decoderClass->flush = keoDecFlush;
}

static void gst_keo_dec_init(GstKeoDec* self) {
    GstVideoDecoder* decoder = GST_VIDEO_DECODER(self);
    // Every buffer is one whole frame, and every frame stands alone.
    gst_video_decoder_set_packetized(decoder, TRUE);
    gst_video_decoder_set_needs_format(decoder, TRUE);
    gst_video_decoder_set_use_default_pad_acceptcaps(decoder, TRUE);
    GST_PAD_SET_ACCEPT_TEMPLATE(GST_VIDEO_DECODER_SINK_PAD(self));
}
