// keoenc: raw ARGB video in, one KEO frame payload per buffer out, made by
// the codec's frame encoder.
//
//   sink    video/x-raw, format ARGB (the encoder's own order; videoconvert
//           brings any other)
//   src     video/x-keo, with the frames' width, height and rate: what
//           keodec decodes and an application stores as a movie's samples
//
// Properties: "layout" (dxt24, the default; dxt1; dxt5, which keeps alpha),
// "lzf" (an LZF stream where it is shorter than the blocks; default on) and
// "threads" (encoder threads; 0, the default, is one per core, as keo export
// takes; the bytes are the same for any count). The codec encodes exactly
// the layout and storage asked for. Every frame stands alone.
#pragma once

#include <gst/video/gstvideoencoder.h>

G_BEGIN_DECLS

#define GST_TYPE_KEO_ENC (gst_keo_enc_get_type())
G_DECLARE_FINAL_TYPE(GstKeoEnc, gst_keo_enc, GST, KEO_ENC, GstVideoEncoder)

GST_ELEMENT_REGISTER_DECLARE(keoenc);

G_END_DECLS
