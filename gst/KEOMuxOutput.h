// keomux's output: the movie writer writes into a C stream, and this turns
// the stream's bytes into buffers on the muxer's source pad.
//
// The writer appends chunks, then at close writes the movie atom and goes
// back to patch the media data's size near the start. A write that does not
// follow the last byte pushed (that patch) first tells downstream where the
// bytes go with a new byte segment, which a seekable sink such as filesink
// obeys by seeking. So the container layer knows nothing of GStreamer, and
// nothing of the movie is kept here: each write is pushed as it comes.
//
// Writes happen only on the thread that drives the writer, the aggregator's
// source pad thread, inside its aggregate call.
#pragma once

#include <cstdio>

#include <gst/base/gstaggregator.h>

struct KEOMuxOutput {
    GstAggregator* aggregator;
    guint64 position;  // where the next byte goes
    guint64 pushedEnd; // just past the last byte pushed
    guint64 length;    // bytes from 0 to the furthest written
    // The first push that did not succeed (downstream flushing, gone to
    // EOS, failed); every later write then fails, so the writer sees it.
    GstFlowReturn flow;
    // Set while the movie is given up: its leftover bytes go nowhere.
    gboolean discard;
};

// A write stream over `out`, which is set to start at byte 0 and must
// outlive the stream; null when the C library cannot make one. Closing the
// stream pushes what it still holds and leaves `out` as it is.
FILE* KEOOpenMuxOutput(KEOMuxOutput* out, GstAggregator* aggregator);
