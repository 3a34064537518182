// A stream of the C library's cookie kind over keomux's source pad.
#include "gst/KEOMuxOutput.h"

#include <sys/types.h>

namespace {

ssize_t writeOut(void* cookie, const char* data, size_t size) {
    auto* out = static_cast<KEOMuxOutput*>(cookie);
    if (out->discard)
        return static_cast<ssize_t>(size);
    // A short count marks the stream failed; the writer then fails the chunk
    // and the movie.
    if (out->flow != GST_FLOW_OK)
        return 0;
    if (out->position != out->pushedEnd) {
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_BYTES);
        segment.start = out->position;
        segment.position = out->position;
        segment.time = out->position;
        gst_aggregator_update_segment(out->aggregator, &segment);
    }
    GstBuffer* buffer = gst_buffer_new_memdup(data, size);
    GST_BUFFER_OFFSET(buffer) = out->position;
    GST_BUFFER_OFFSET_END(buffer) = out->position + size;
    const GstFlowReturn flow = gst_aggregator_finish_buffer(out->aggregator, buffer);
    if (flow != GST_FLOW_OK) {
        out->flow = flow;
        return 0;
    }
    out->position += size;
    out->pushedEnd = out->position;
    if (out->position > out->length)
        out->length = out->position;
    return static_cast<ssize_t>(size);
}

int seekOut(void* cookie, off64_t* offset, int whence) {
    auto* out = static_cast<KEOMuxOutput*>(cookie);
    const gint64 base = whence == SEEK_SET   ? 0
                        : whence == SEEK_CUR ? static_cast<gint64>(out->position)
                                             : static_cast<gint64>(out->length);
    if (*offset < -base)
        return -1;
    out->position = static_cast<guint64>(base + *offset);
    *offset = static_cast<off64_t>(out->position);
    return 0;
}

} // namespace

FILE* KEOOpenMuxOutput(KEOMuxOutput* out, GstAggregator* aggregator) {
    *out = KEOMuxOutput{aggregator, 0, 0, 0, GST_FLOW_OK, FALSE};
    // The first write, at byte 0, still starts a byte segment: the
    // aggregator's own is in time.
    out->pushedEnd = G_MAXUINT64;
    cookie_io_functions_t io{};
    io.write = writeOut;
    io.seek = seekOut;
    return fopencookie(out, "wb", io);
}
