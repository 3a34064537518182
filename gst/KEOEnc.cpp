// keoenc, a GstVideoEncoder over the codec's CompressDXTFrame.
#include "gst/KEOEnc.h"

#include <gst/video/video.h>

#include "base/ByteBuffer.h"
#include "base/PixelOrder.h"
#include "codec/BlockLayout.h"
#include "codec/EncoderThreads.h"
#include "codec/FrameEncoder.h"
#include "gst/KEOElement.h"

GST_DEBUG_CATEGORY_STATIC(keo_enc_debug);
#define GST_CAT_DEFAULT keo_enc_debug

static GstStaticPadTemplate encSinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("ARGB")));

static GstStaticPadTemplate encSrcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-keo, width = (int) [ 1, MAX ], "
                                            "height = (int) [ 1, MAX ]"));

enum { PROP_0, PROP_LAYOUT, PROP_LZF, PROP_THREADS };

struct _GstKeoEnc {
    GstVideoEncoder parent;
    GstVideoCodecState* input;
    // Properties, read under the object lock and copied per frame.
    KEOBlockLayout layout;
    gboolean lzf;
    int threads;
    // An opaque layout's picture laid over black, kept from frame to frame.
    keo::ByteBuffer opaque;
};

G_DEFINE_TYPE(GstKeoEnc, gst_keo_enc, GST_TYPE_VIDEO_ENCODER)

GST_ELEMENT_REGISTER_DEFINE(keoenc, "keoenc", GST_RANK_PRIMARY, GST_TYPE_KEO_ENC)

// The codec's own layout values; the element takes the three the writer makes.
static GType keoEncLayoutType() {
    static GType type = 0;
    static const GEnumValue values[] = {
        {kKEOLayoutDXT24, "DXT24: 8:8:8 end colours, opaque, 10 bytes a block", "dxt24"},
        {kKEOLayoutDXT1, "DXT1: opaque, 8 bytes a block", "dxt1"},
        {kKEOLayoutDXT5, "DXT5: with alpha, 16 bytes a block", "dxt5"},
        {0, nullptr, nullptr}};
    if (g_once_init_enter(&type))
        g_once_init_leave(&type, g_enum_register_static("GstKeoEncLayout", values));
    return type;
}

static gboolean keoEncStop(GstVideoEncoder* encoder) {
    GstKeoEnc* self = GST_KEO_ENC(encoder);
    g_clear_pointer(&self->input, gst_video_codec_state_unref);
    keo::release(self->opaque);
    return TRUE;
}

static gboolean keoEncSetFormat(GstVideoEncoder* encoder, GstVideoCodecState* state) {
    GstKeoEnc* self = GST_KEO_ENC(encoder);
    uint64_t capacity = 0;
    const int width = GST_VIDEO_INFO_WIDTH(&state->info);
    const int height = GST_VIDEO_INFO_HEIGHT(&state->info);
    if (!KEOMaxFramePayloadSize(width, height, &capacity)) {
        GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                          ("Frames of %dx%d pixels are too large to encode.", width, height),
                          (nullptr));
        return FALSE;
    }
    g_clear_pointer(&self->input, gst_video_codec_state_unref);
    self->input = gst_video_codec_state_ref(state);
    GstCaps* caps = gst_caps_new_simple("video/x-keo", "width", G_TYPE_INT, width, "height",
                                        G_TYPE_INT, height, nullptr);
    GstVideoCodecState* output = gst_video_encoder_set_output_state(encoder, caps, state);
    gst_video_codec_state_unref(output);
    return gst_video_encoder_negotiate(encoder);
}

// What the properties ask the encoder for. A DXT1 frame's header says DXT1
// was asked for, as keo export's frames of "KEOOptimizeFor" 1 say, so that
// keoenc ! keomux writes keo export's bytes.
static KEOEncodeSettings currentSettings(GstKeoEnc* self) {
    KEOEncodeSettings settings;
    GST_OBJECT_LOCK(self);
    settings.layout = self->layout;
    settings.tryLZF = self->lzf;
    settings.threads = self->threads;
    GST_OBJECT_UNLOCK(self);
    settings.prefersDXT1 = settings.layout == kKEOLayoutDXT1;
    // One per core unless told, as keo export does; the encoder's bytes do
    // not depend on the count.
    if (settings.threads == 0)
        settings.threads = KEODefaultEncodeThreads();
    return settings;
}

// The picture the encoder is given: as it came for a layout with alpha;
// for an opaque one laid over black first, as keo export's host does, so
// that the same frames make the same bytes whatever their alpha. Null when
// there is no memory for it.
static const unsigned char* encoderPicture(GstKeoEnc* self, const GstVideoFrame* in,
                                           const KEOEncodeSettings& settings, int* stride) {
    const unsigned char* pixels =
        static_cast<const unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(in, 0));
    *stride = GST_VIDEO_FRAME_PLANE_STRIDE(in, 0);
    if (KEOLayoutHasAlpha(settings.layout))
        return pixels;
    const int width = GST_VIDEO_FRAME_WIDTH(in);
    const int height = GST_VIDEO_FRAME_HEIGHT(in);
    unsigned char* onBlack = keo::reserve(self->opaque, static_cast<size_t>(width) * 4 * height);
    if (onBlack == nullptr)
        return nullptr;
    keo::convertPixels({keo::PixelLayout::ARGB, keo::PixelLayout::ARGB, keo::RowOrder::Same,
                        keo::PixelAlpha::OntoBlack},
                       pixels, *stride, onBlack, static_cast<size_t>(width) * 4, width, height);
    *stride = width * 4;
    return onBlack;
}

// The frame's payload in a new output buffer of its exact length, or null.
static GstBuffer* encodePayload(GstKeoEnc* self, const GstVideoFrame* in,
                                const KEOEncodeSettings& settings) {
    const int width = GST_VIDEO_FRAME_WIDTH(in);
    const int height = GST_VIDEO_FRAME_HEIGHT(in);
    int stride = 0;
    const unsigned char* picture = encoderPicture(self, in, settings, &stride);
    if (picture == nullptr)
        return nullptr;
    uint64_t capacity = 0;
    KEOMaxFramePayloadSize(width, height, &capacity);
    GstBuffer* out = gst_video_encoder_allocate_output_buffer(GST_VIDEO_ENCODER(self), capacity);
    GstMapInfo map;
    if (out == nullptr || !gst_buffer_map(out, &map, GST_MAP_WRITE)) {
        if (out)
            gst_buffer_unref(out);
        return nullptr;
    }
    const int length = KEOEncodeFrame(picture, map.data, width, height, stride, settings);
    gst_buffer_unmap(out, &map);
    if (length <= 0) {
        gst_buffer_unref(out);
        return nullptr;
    }
    gst_buffer_set_size(out, length);
    return out;
}

static GstFlowReturn keoEncHandleFrame(GstVideoEncoder* encoder, GstVideoCodecFrame* frame) {
    GstKeoEnc* self = GST_KEO_ENC(encoder);
    const KEOEncodeSettings settings = currentSettings(self);
    GstVideoFrame in;
    if (!gst_video_frame_map(&in, &self->input->info, frame->input_buffer, GST_MAP_READ)) {
        gst_video_encoder_finish_frame(encoder, frame);
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read a video frame."), (nullptr));
        return GST_FLOW_ERROR;
    }
    GstBuffer* out = encodePayload(self, &in, settings);
    gst_video_frame_unmap(&in);
    if (out == nullptr) {
        gst_video_encoder_finish_frame(encoder, frame);
        GST_ELEMENT_ERROR(self, STREAM, ENCODE, ("Could not encode a KEO frame."),
                          ("%dx%d frame", GST_VIDEO_INFO_WIDTH(&self->input->info),
                           GST_VIDEO_INFO_HEIGHT(&self->input->info)));
        return GST_FLOW_ERROR;
    }
    frame->output_buffer = out;
    GST_VIDEO_CODEC_FRAME_SET_SYNC_POINT(frame);
    return gst_video_encoder_finish_frame(encoder, frame);
}

static void keoEncSetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstKeoEnc* self = GST_KEO_ENC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_LAYOUT:
        self->layout = static_cast<KEOBlockLayout>(g_value_get_enum(value));
        break;
    case PROP_LZF:
        self->lzf = g_value_get_boolean(value);
        break;
    case PROP_THREADS:
        self->threads = g_value_get_int(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

static void keoEncGetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstKeoEnc* self = GST_KEO_ENC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_LAYOUT:
        g_value_set_enum(value, self->layout);
        break;
    case PROP_LZF:
        g_value_set_boolean(value, self->lzf);
        break;
    case PROP_THREADS:
        g_value_set_int(value, self->threads);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

static void keoEncFinalize(GObject* object) {
    g_clear_pointer(&GST_KEO_ENC(object)->input, gst_video_codec_state_unref);
    keo::release(GST_KEO_ENC(object)->opaque);
    G_OBJECT_CLASS(gst_keo_enc_parent_class)->finalize(object);
}

static void gst_keo_enc_class_init(GstKeoEncClass* klass) {
    GST_DEBUG_CATEGORY_INIT(keo_enc_debug, "keoenc", 0, "KEO video encoder");
    KEODescribeElement(
        GST_ELEMENT_CLASS(klass), &encSinkTemplate, &encSrcTemplate, "KEO video encoder",
        "Codec/Encoder/Video",
        "Encodes raw video into KEO frames (DXT1, DXT5 or DXT24 blocks, plain or LZF)");

    GObjectClass* objectClass = G_OBJECT_CLASS(klass);

    objectClass->set_property = keoEncSetProperty;
    objectClass->get_property = keoEncGetProperty;
    objectClass->finalize = keoEncFinalize;
    const GParamFlags flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(objectClass, PROP_LAYOUT,
                                    g_param_spec_enum("layout", "Block layout",
                                                      "How the 4x4 blocks are stored",
                                                      keoEncLayoutType(), kKEOLayoutDXT24, flags));
    g_object_class_install_property(
        objectClass, PROP_LZF,
        g_param_spec_boolean(
            "lzf", "LZF", "Store the blocks as an LZF stream where that is shorter", TRUE, flags));
    g_object_class_install_property(
        objectClass, PROP_THREADS,
        g_param_spec_int("threads", "Threads",
                         "Encoder threads for frames of 29 rows or more (0: one per core)", 0, 32,
                         0, flags));
    gst_type_mark_as_plugin_api(keoEncLayoutType(), static_cast<GstPluginAPIFlags>(0));

    GstVideoEncoderClass* encoderClass = GST_VIDEO_ENCODER_CLASS(klass);
    encoderClass->stop = keoEncStop;
    encoderClass->set_format = keoEncSetFormat;
    encoderClass->handle_frame = keoEncHandleFrame;
}

static void gst_keo_enc_init(GstKeoEnc* self) {
    self->layout = kKEOLayoutDXT24;
    self->lzf = TRUE;
    self->threads = 0;
}
