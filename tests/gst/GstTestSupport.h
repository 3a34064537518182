// What the keodec tests share: GStreamer set up with the element registered
// from the test binary itself (so the element code built with the tests, the
// sanitized one in the sanitizer build, is what runs), pipelines run to their
// end with a time limit, KEO payloads and movies made by the project's own
// encoder and writer, and pixels brought back to the importer's ARGB32.
#pragma once

#include <gst/gst.h>
#include <gst/video/video.h>

#include <string>
#include <vector>

#include "base/FrameRate.h"

namespace keogst {

using Bytes = std::vector<unsigned char>;

// gst_init once, with keodec, keoenc and keomux registered at primary rank.
void initGStreamer();

// A picture of `format` (rows `stride` bytes apart) as packed, top-down
// ARGB32. The x byte of BGRx and RGBx means nothing, so it comes back as 255.
Bytes toARGB(const unsigned char* pixels, int stride, int width, int height, GstVideoFormat format);
// The same with the x byte of a picture already in ARGB32 set to 255, when
// `format` has no alpha; for comparing a decoded picture with one of those.
Bytes withoutAlphaIf(Bytes argb, GstVideoFormat format);

struct PipelineRun {
    bool ended = false; // EOS or an error within the time limit
    bool eos = false;
    std::string error; // the first error's message, empty without one
    int dropped = 0;   // frames the QoS messages say were dropped
    GstVideoFormat format = GST_VIDEO_FORMAT_UNKNOWN; // what the appsink got
    std::vector<Bytes> frames;                        // ARGB32, top row first
};

// Runs a gst-launch style description to its end or for `timeoutSeconds`.
// Frames reaching an appsink named "out" are collected.
PipelineRun runPipeline(const std::string& description, int timeoutSeconds = 60);

// How a test payload is laid out.
enum class Layout { DXT1, DXT1LZF, DXT5, DXT5LZF, DXT24, DXT24LZF, DXT24Alpha };
const char* layoutName(Layout layout);
bool layoutHasAlpha(Layout layout);

// One frame payload of a seeded picture in `layout`, made with the frame
// encoder; the plain layouts are the LZF ones with the stream undone, and the
// DXT24-with-alpha layout (which the encoder does not write) is put together
// from the DXT5 alpha halves and the DXT24 colour blocks of the picture.
Bytes encodeFrame(Layout layout, int width, int height, uint32_t seed);

// A movie of `samples`, one frame each, written with the movie writer, with
// a video track of width x height at `rate`; false when it cannot be written.
bool writeMovie(const std::string& path, int width, int height, const std::vector<Bytes>& samples,
                keo::FrameRate rate = {25, 1});

// A fresh path in the test temporary folder, removed by the object.
struct TempPath {
    explicit TempPath(const std::string& name);
    ~TempPath();
    std::string path;
};

} // namespace keogst
