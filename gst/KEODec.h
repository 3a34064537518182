// keodec: KEO frame payloads in, raw video out; one payload per buffer.
//
//   sink    video/x-gst-fourcc-ZUVM   what qtdemux gives for a KEO movie's
//                                      video track
//           video/x-keo               the same payloads from any other
//                                      demuxer, appsrc or parser
//           both with width and height: the size the frames decode at
//   src     video/x-raw, format ARGB, BGRA, RGBA, BGRx or RGBx
//
// The output format is the first of these that downstream accepts, in
// downstream's order of preference; when a frame carries alpha, the first
// with alpha that downstream accepts. Each frame decodes with the codec layer
// straight into an output buffer of a reused pool, top row first, byte for
// byte the pixels the importer hands a host. A payload that does not decode
// posts GST_VIDEO_DECODER_ERROR and is dropped, so the max-errors property
// decides when a damaged stream stops.
//
// Each frame goes out as soon as it is decoded (1080p and larger LZF frames
// use two cores, LZF and blocks side by side). With the "decode-ahead"
// property and a frame rate in the caps, frames decode two at a time instead,
// one on a standing decode worker of the codec and the next on the
// streaming thread, and each pair goes out in order once both are done: more
// frames a second on two cores, for one frame of latency, which the element
// reports (so only where nothing waits for a frame before it sends the next).
// Without a rate, or with no worker idle, each frame decodes on its own.
#pragma once

#include <gst/video/gstvideodecoder.h>

G_BEGIN_DECLS

#define GST_TYPE_KEO_DEC (gst_keo_dec_get_type())
G_DECLARE_FINAL_TYPE(GstKeoDec, gst_keo_dec, GST, KEO_DEC, GstVideoDecoder)

GST_ELEMENT_REGISTER_DECLARE(keodec);

G_END_DECLS
