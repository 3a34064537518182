// keomux's recording: the movie started, every frame placed at its time on
// the movie's rate, the sound kept by its timestamps, the header kept up to
// date at the start of the file when asked, and the movie finished.
#include <climits>
#include <cmath>
#include <cstring>

#include "base/FrameRate.h"
#include "codec/FramePayload.h"
#include "codec/LZFDecode.h"
#include "gst/KEOMuxFrames.h"
#include "gst/KEOMuxState.h"

GST_DEBUG_CATEGORY_EXTERN(keo_mux_debug);
#define GST_CAT_DEFAULT keo_mux_debug

namespace {

// Gaps and overlaps of the sound told one by one; the rest are counted.
constexpr guint kStraysTold = 10;

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

// The sound could not be kept for the end, or not written.
GstFlowReturn soundFailed(GstKeoMux* self) {
    if (self->sound.error == 0 || (self->movie && self->movie->writeErrno != 0))
        return writeFailed(self, "the sound");
    GST_ELEMENT_ERROR(self, RESOURCE, WRITE,
                      ("Could not keep the sound aside until the end of the movie."),
                      ("its temporary file: %s", g_strerror(self->sound.error)));
    return GST_FLOW_ERROR;
}

// The decoder's own first checks (a header it takes, a payload after it),
// then the payload's blocks against the movie's size: a plain payload is
// exactly that many bytes, an LZF one unpacks to exactly that many. So a
// frame of another size never goes into a movie whose header describes
// this one.
bool fitsMovie(GstKeoMux* self, const GstMapInfo& map) {
    if (map.size <= kKEOFrameHeaderSize || map.size > INT_MAX)
        return false;
    KEOFrameHeader header;
    header.read(map.data);
    uint64_t blocks = 0;
    if (!KEOFrameHeaderAcceptable(header) ||
        !KEOBlockDataSize(self->movieW, self->movieH, header.isDXT24 == 1, header.hasAlpha != 0,
                          &blocks))
        return false;
    const guint64 available = map.size - header.headerSize;
    if (!header.isLZF)
        return header.payloadSize == blocks && available >= blocks;
    if (header.payloadSize > available)
        return false;
    self->unpacked->resize(static_cast<size_t>(blocks));
    return KEOLZFDecompress(map.data + header.headerSize, header.payloadSize,
                            self->unpacked->data(), static_cast<unsigned>(blocks)) == blocks;
}

// The buffer's frame written `times` times, one chunk each.
GstFlowReturn writeFrames(GstKeoMux* self, GstBuffer* buffer, gint64 times) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read a frame."), (nullptr));
        return GST_FLOW_ERROR;
    }
    int failed = 0;
    for (gint64 i = 0; i < times && !failed; ++i) {
        failed = self->movie->writeFrame(0, static_cast<int>(map.size), map.data);
        self->framesWritten += failed ? 0 : 1;
    }
    gst_buffer_unmap(buffer, &map);
    return failed ? writeFailed(self, "a frame") : GST_FLOW_OK;
}

// The movie's time 0, as sound times are counted against it.
gint64 zeroOf(GstKeoMux* self) {
    return GST_CLOCK_TIME_IS_VALID(self->videoStart) ? static_cast<gint64>(self->videoStart) : 0;
}

// ---- The movie's start ----

// The first frame (gap buffers before it dropped) and the first sound, or
// with `ready` false: not yet.
GstFlowReturn firstBuffers(GstKeoMux* self, GstBuffer** frame, GstBuffer** sound, bool* ready) {
    *ready = false;
    if (!self->videoPad) {
        GST_ELEMENT_ERROR(self, STREAM, MUX,
                          ("keomux has no video stream: link keoenc to its video pad."), (nullptr));
        return GST_FLOW_ERROR;
    }
    GstBuffer* f;
    while ((f = gst_aggregator_pad_peek_buffer(self->videoPad)) &&
           GST_BUFFER_FLAG_IS_SET(f, GST_BUFFER_FLAG_GAP)) {
        gst_buffer_unref(f);
        gst_aggregator_pad_drop_buffer(self->videoPad);
    }
    if (!f) {
        if (!gst_aggregator_pad_is_eos(self->videoPad))
            return GST_FLOW_OK;
        GST_ELEMENT_ERROR(self, STREAM, MUX,
                          ("The video stream ended before its first frame; nothing was written."),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    GstBuffer* s = self->audioPad ? gst_aggregator_pad_peek_buffer(self->audioPad) : nullptr;
    if (self->audioPad && !s && !gst_aggregator_pad_is_eos(self->audioPad)) {
        gst_buffer_unref(f);
        return GST_FLOW_OK;
    }
    *frame = f;
    *sound = s;
    *ready = true;
    return GST_FLOW_OK;
}

// The movie's rate: the framerate property's, else the caps', else the
// frames' own, which their timestamps settle at the end; meanwhile the
// first frame's duration gives one (25 fps without it).
keo::FrameRate chooseRate(GstKeoMux* self, GstBuffer* frame) {
    GST_OBJECT_LOCK(self);
    const keo::FrameRate property{self->rateN, self->rateD}, caps{self->fpsN, self->fpsD};
    GST_OBJECT_UNLOCK(self);
    self->rateFromTimes = property.num <= 0 && caps.num <= 0;
    self->rateFromDuration = FALSE;
    if (!self->rateFromTimes)
        return property.num > 0 ? property : caps;
    keo::FrameRate rate{25, 1};
    const GstClockTime d = GST_BUFFER_DURATION(frame);
    if (GST_CLOCK_TIME_IS_VALID(d) && d > 0) {
        const double fps = static_cast<double>(GST_SECOND) / d;
        self->rateFromDuration = KEOMeasuredRate(fps, &rate) && keo::rateFitsMovie(rate);
        if (!self->rateFromDuration)
            rate = keo::FrameRate{25, 1};
    }
    return rate;
}

// Bytes to keep at the start for the header of a recording as long as
// reserved-max-duration: twice (the header goes into either half) what its
// tables can take, a frame's size and chunk (12 bytes) and a chunk of sound
// (20 at most) for each frame, and a generous fixed part. A rate that the
// frames' timestamps settle later may turn out faster: room for twice it.
gint64 headerRoomFor(GstKeoMux* self, GstClockTime duration) {
    if (!GST_CLOCK_TIME_IS_VALID(duration) || duration == 0)
        return 0;
    const guint64 fps = gst_util_uint64_scale_ceil(
        duration, self->rate.num, static_cast<guint64>(self->rate.den) * GST_SECOND);
    const guint64 frames = (fps + 2) * (self->rateFromTimes ? 2 : 1);
    const guint64 half = 16384 + frames * (12 + (self->storesSound ? 20 : 0));
    // Past the reader's limit on a movie atom a larger room would not help.
    const guint64 room = MIN(2 * half, static_cast<guint64>(2 * kMaxMovieAtomBytes + 32));
    return static_cast<gint64>(MAX(room, static_cast<guint64>(kMinHeaderRoom)));
}

// Sample frames of sound in one chunk: one frame's worth rounded up, as keo
// export's host hands its exporter (base/FrameRate.h).
guint64 soundBlockFor(keo::FrameRate rate, int soundRate) {
    return static_cast<guint64>(
        keo::soundBlockFrames(keo::ticksPerFrame(rate, keo::kStandInTicksPerSecond),
                              keo::kStandInTicksPerSecond, soundRate));
}

GstFlowReturn checkStart(GstKeoMux* self) {
    if (!keo::rateFitsMovie(self->rate)) {
        GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                          ("A frame rate of %d/%d cannot be stored: a KEO movie holds rates up to "
                           "%d frames per second.",
                           static_cast<int>(self->rate.num), static_cast<int>(self->rate.den),
                           static_cast<int>(keo::kMaxMovieFramesPerSecond)),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    if (!downstreamSeeks(GST_AGGREGATOR(self))) {
        GST_ELEMENT_ERROR(self, STREAM, MUX,
                          ("keomux needs a downstream that can seek, such as filesink: a KEO "
                           "movie's header is finished by writing over its start."),
                          ("downstream of keomux cannot seek in bytes; nothing was written"));
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

// The sound's place to wait (made before the first byte goes downstream,
// so a failure leaves no output), then the movie.
GstFlowReturn openMovie(GstKeoMux* self, int width, int height) {
    const int channels = self->storesSound ? GST_AUDIO_INFO_CHANNELS(&self->stored) : 0;
    const int rate = self->storesSound ? GST_AUDIO_INFO_RATE(&self->stored) : 0;
    const GstAudioFormat format = GST_AUDIO_INFO_FORMAT(&self->stored);
    GST_OBJECT_LOCK(self);
    const GstClockTime reserve = self->reservedMaxDuration, period = self->reservedUpdatePeriod;
    GST_OBJECT_UNLOCK(self);
    const gint64 room = headerRoomFor(self, reserve);
    self->keepsHeader = room > 0 && GST_CLOCK_TIME_IS_VALID(period);
    self->nextUpdate = self->keepsHeader ? period : GST_CLOCK_TIME_NONE;
    if (self->storesSound &&
        !KEOMuxSoundStart(&self->sound, format, channels, rate, self->keepsHeader,
                          soundBlockFor(self->rate, rate))) {
        self->sound.error = errno;
        return soundFailed(self);
    }
    GstCaps* caps = gst_caps_new_empty_simple("video/quicktime");
    gst_aggregator_set_src_caps(GST_AGGREGATOR(self), caps);
    gst_caps_unref(caps);
    FILE* stream = KEOOpenMuxOutput(&self->out, GST_AGGREGATOR(self));
    self->movie = new MovFile();
    self->movie->headerRoom = room;
    char compressor[] = "ZUVM";
    const int bits = self->storesSound ? KEOMuxStoredBits(format) : 0;
    if (self->movie->openWrite(fadopt_L(stream), compressor, width, height, self->rate, 1,
                               self->storesSound, rate, channels, bits))
        return GST_FLOW_OK;
    delete self->movie;
    self->movie = nullptr;
    if (self->out.flow != GST_FLOW_OK)
        return self->out.flow;
    GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Could not start the movie."),
                      ("%dx%d frames at %d/%d, %d channel(s) at %d Hz", width, height,
                       static_cast<int>(self->rate.num), static_cast<int>(self->rate.den), channels,
                       rate));
    return GST_FLOW_ERROR;
}

// ---- Frames ----

void noteRepeats(GstKeoMux* self, gint64 from, gint64 count) {
    if (count <= 0)
        return;
    if (self->repeats == 0)
        self->firstRepeat = KEOSlotStart(from, 0, self->rate);
    self->repeats += static_cast<guint64>(count);
}

// The header rewritten in its room once the movie has gone on for the
// update period since the last time.
GstFlowReturn maybeUpdateHeader(GstKeoMux* self) {
    if (!self->keepsHeader || self->roomFull || self->framesWritten == 0)
        return GST_FLOW_OK;
    const GstClockTime now = static_cast<GstClockTime>(
        KEOSlotStart(static_cast<gint64>(self->framesWritten), 0, self->rate));
    if (now < self->nextUpdate)
        return GST_FLOW_OK;
    GST_OBJECT_LOCK(self);
    const GstClockTime period = self->reservedUpdatePeriod;
    GST_OBJECT_UNLOCK(self);
    self->nextUpdate = now + period;
    // Frames that settle their rate at the end: the best rate so far.
    keo::FrameRate best;
    if (self->rateFromTimes && KEORateOfTimes(*self->frameTimes, &best) &&
        self->movie->setFrameRate(best) == 0)
        self->rate = best;
    const int updated = self->movie->updateMovieAtom();
    if (updated == 1)
        return writeFailed(self, "the header");
    if (updated == kHeaderRoomFull) {
        self->roomFull = TRUE;
        GST_ELEMENT_WARNING(self, STREAM, MUX,
                            ("The recording has passed reserved-max-duration: its header no longer "
                             "fits the room kept for it at the start, so it is no longer updated "
                             "there. The recording goes on and is finished with its header at "
                             "the end."),
                            ("at %" GST_TIME_FORMAT, GST_TIME_ARGS(now)));
        return GST_FLOW_OK;
    }
    self->lastUpdate = now;
    return GST_FLOW_OK;
}

// The slot a frame at `time` takes: by its time at a rate given, else the
// next one (the timestamps must then fit one rate, checked at the end).
gint64 slotOf(GstKeoMux* self, GstClockTime time) {
    const bool timed = GST_CLOCK_TIME_IS_VALID(time) && GST_CLOCK_TIME_IS_VALID(self->videoStart);
    if (self->rateFromTimes || !timed)
        return self->pending ? self->pendingSlot + 1 : 0;
    return KEOSlotAt(static_cast<gint64>(time), static_cast<gint64>(self->videoStart), self->rate);
}

// The pending frame for its slot and, when the next frame comes later
// than the slot after it, again for every slot in between.
GstFlowReturn placePending(GstKeoMux* self, gint64 nextSlot) {
    if (!self->pending)
        return GST_FLOW_OK;
    const gint64 repeats = MAX(nextSlot - self->pendingSlot - 1, gint64{0});
    noteRepeats(self, self->pendingSlot + 1, repeats);
    const GstFlowReturn r = writeFrames(self, self->pending, 1 + repeats);
    gst_clear_buffer(&self->pending);
    return r;
}

// ---- The end ----

// The frames' own rate, from their timestamps as a whole; an error that
// names the property when they fit none.
GstFlowReturn settleRate(GstKeoMux* self) {
    const std::vector<int64_t>& times = *self->frameTimes;
    keo::FrameRate rate = self->rate;
    if (times.size() < 2 && !self->rateFromDuration) {
        GST_ELEMENT_ERROR(self, STREAM, MUX,
                          ("The video has no frame rate: its caps say framerate=0/1 and its "
                           "timestamps give none; set keomux's framerate property (for example "
                           "framerate=25/1)."),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    size_t worst = 0;
    if (times.size() >= 2 &&
        !(KEORateOfTimes(times, &rate) && KEOTimesFitRate(times, rate, &worst))) {
        GST_ELEMENT_ERROR(self, STREAM, MUX,
                          ("The frames' timestamps fit no constant frame rate and their caps give "
                           "none (framerate=0/1); set keomux's framerate property (for example "
                           "framerate=30/1) to place every frame at its time at that rate."),
                          ("frame %" G_GSIZE_FORMAT " at %" GST_TIME_FORMAT
                           " is more than half a frame from its place at %d/%d",
                           worst, GST_TIME_ARGS(times[worst]), static_cast<int>(rate.num),
                           static_cast<int>(rate.den)));
        return GST_FLOW_ERROR;
    }
    if (self->movie->setFrameRate(rate) != 0)
        return writeFailed(self, "the frame rate");
    self->rate = rate;
    return GST_FLOW_OK;
}

// The last frame, repeated to the end of the stream (a GAP event or a
// frame's duration may reach past it), then the rate settled.
GstFlowReturn finishFrames(GstKeoMux* self) {
    gint64 end = self->pendingSlot + 1;
    if (!self->rateFromTimes && GST_CLOCK_TIME_IS_VALID(self->videoEnd) &&
        GST_CLOCK_TIME_IS_VALID(self->videoStart))
        end = MAX(end, KEOSlotAt(static_cast<gint64>(self->videoEnd),
                                 static_cast<gint64>(self->videoStart), self->rate));
    const GstFlowReturn r = placePending(self, end);
    if (r != GST_FLOW_OK)
        return r;
    return self->rateFromTimes ? settleRate(self) : GST_FLOW_OK;
}

// "3 repeated where none came (the first at 0:00:00.160000000)".
gchar* countText(guint64 count, const char* what, GstClockTime first) {
    if (count == 0)
        return g_strdup_printf("none %s", what);
    return g_strdup_printf("%" G_GUINT64_FORMAT " %s (the first at %" GST_TIME_FORMAT ")", count,
                           what, GST_TIME_ARGS(first));
}

// One warning for the whole recording, when frames were repeated or
// dropped; programs find the counts and times in its details.
void tellPlacement(GstKeoMux* self) {
    if (self->repeats == 0 && self->drops == 0)
        return;
    gchar* repeated = countText(self->repeats, "repeated where no frame came", self->firstRepeat);
    gchar* dropped = countText(self->drops, "dropped where two came for one", self->firstDrop);
    GST_ELEMENT_WARNING_WITH_DETAILS(
        self, STREAM, MUX,
        ("The frames were placed at their times at %d/%d frames per second: %s, %s.",
         static_cast<int>(self->rate.num), static_cast<int>(self->rate.den), repeated, dropped),
        (nullptr),
        ("repeated", G_TYPE_UINT64, self->repeats, "dropped", G_TYPE_UINT64, self->drops,
         "first-repeated", G_TYPE_UINT64, self->firstRepeat, "first-dropped", G_TYPE_UINT64,
         self->firstDrop, nullptr));
    g_free(repeated);
    g_free(dropped);
}

// Sample frames of sound as long as the pictures: keo export asks its host
// for the frames' duration in ticks and renders that many whole samples.
guint64 soundForPictures(GstKeoMux* self) {
    const __int128 ticks = keo::frameStartTicks(self->rate, keo::kStandInTicksPerSecond,
                                                static_cast<int64_t>(self->framesWritten));
    return static_cast<guint64>(ticks * GST_AUDIO_INFO_RATE(&self->stored) /
                                keo::kStandInTicksPerSecond);
}

} // namespace

GstClockTime KEOMuxRunningTime(GstAggregatorPad* pad, GstBuffer* buffer) {
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

GstFlowReturn KEOMuxStart(GstKeoMux* self) {
    GstBuffer *frame = nullptr, *sound = nullptr;
    bool ready = false;
    GstFlowReturn result = firstBuffers(self, &frame, &sound, &ready);
    if (!ready)
        return result;
    GST_OBJECT_LOCK(self);
    const int width = self->width, height = self->height;
    self->stored = self->audio;
    self->storesSound = sound && self->haveAudioCaps;
    GST_OBJECT_UNLOCK(self);
    self->rate = chooseRate(self, frame);
    result = checkStart(self);
    if (result == GST_FLOW_OK)
        result = openMovie(self, width, height);
    if (result == GST_FLOW_OK) {
        // The first frame is time 0 of the movie, and the sound keeps to it.
        self->videoStart = KEOMuxRunningTime(self->videoPad, frame);
        GST_OBJECT_LOCK(self);
        self->started = TRUE;
        self->movieW = width;
        self->movieH = height;
        self->capsRate = self->rateN <= 0 && self->fpsN > 0 ? keo::FrameRate{self->fpsN, self->fpsD}
                                                            : keo::FrameRate{0, 0};
        GST_OBJECT_UNLOCK(self);
    }
    gst_clear_buffer(&frame);
    gst_clear_buffer(&sound);
    return result;
}

GstFlowReturn KEOMuxTakeFrame(GstKeoMux* self, GstBuffer* buffer, GstClockTime time) {
    if (GST_CLOCK_TIME_IS_VALID(time)) {
        const GstClockTime d = GST_BUFFER_DURATION(buffer);
        const GstClockTime end = time + (GST_CLOCK_TIME_IS_VALID(d) ? d : 0);
        if (!GST_CLOCK_TIME_IS_VALID(self->videoEnd) || end > self->videoEnd)
            self->videoEnd = end;
    }
    // A GAP event (a frame dropped upstream): time passes, no frame comes.
    if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_GAP))
        return GST_FLOW_OK;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read a frame."), (nullptr));
        return GST_FLOW_ERROR;
    }
    const bool fits = fitsMovie(self, map);
    const gsize size = map.size;
    gst_buffer_unmap(buffer, &map);
    if (!fits) {
        GST_ELEMENT_ERROR(
            self, STREAM, FORMAT,
            ("A buffer on the video pad is not a KEO frame of the movie's %dx%d "
             "pixels; the movie is not finished with it.",
             self->movieW, self->movieH),
            ("frame %" G_GUINT64_FORMAT ", %" G_GSIZE_FORMAT " bytes", self->framesWritten, size));
        return GST_FLOW_ERROR;
    }
    if (self->rateFromTimes && GST_CLOCK_TIME_IS_VALID(time))
        self->frameTimes->push_back(static_cast<int64_t>(time));
    const gint64 slot = slotOf(self, time);
    if (self->pending && slot <= self->pendingSlot) {
        // Two frames for one slot: the later one stays.
        if (self->drops++ == 0)
            self->firstDrop = GST_CLOCK_TIME_IS_VALID(time) ? time - self->videoStart : 0;
        gst_buffer_replace(&self->pending, buffer);
        return GST_FLOW_OK;
    }
    GstFlowReturn r = placePending(self, slot);
    if (r != GST_FLOW_OK)
        return r;
    self->pending = gst_buffer_ref(buffer);
    self->pendingSlot = slot;
    return maybeUpdateHeader(self);
}

GstFlowReturn KEOMuxTakeSound(GstKeoMux* self, GstBuffer* buffer, GstClockTime time) {
    if (!self->storesSound || GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_GAP))
        return GST_FLOW_OK;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read a sound buffer."), (nullptr));
        return GST_FLOW_ERROR;
    }
    keo::SoundPlacement placed;
    const int failed =
        KEOMuxSoundPut(&self->sound, self->movie, zeroOf(self),
                       GST_CLOCK_TIME_IS_VALID(time) ? static_cast<gint64>(time) : -1, map.data,
                       map.size / GST_AUDIO_INFO_BPF(&self->stored), &placed);
    gst_buffer_unmap(buffer, &map);
    if (failed)
        return soundFailed(self);
    if (placed.strayed() && self->strays++ < kStraysTold) {
        const int rate = GST_AUDIO_INFO_RATE(&self->stored);
        const GstClockTime at =
            GST_CLOCK_TIME_IS_VALID(time) ? time - MIN(time, self->videoStart) : 0;
        GST_ELEMENT_WARNING(
            self, STREAM, MUX,
            ("%s", placed.silence > 0 ? "The sound has a gap; it is filled with silence."
                                      : "The sound overlaps itself; the overlap is dropped."),
            ("%.0f ms at %" GST_TIME_FORMAT " of the movie%s",
             1000.0 * (placed.silence > 0 ? placed.silence : placed.skip) / rate, GST_TIME_ARGS(at),
             self->strays == kStraysTold ? "; further gaps and overlaps are counted at the end"
                                         : ""));
    }
    return GST_FLOW_OK;
}

GstFlowReturn KEOMuxFinish(GstKeoMux* self) {
    GstFlowReturn r = finishFrames(self);
    if (r != GST_FLOW_OK)
        return r;
    // The sound as long as the pictures; a failure leaves the movie open,
    // to be given up at stop.
    if (self->storesSound &&
        KEOMuxSoundFinish(&self->sound, self->movie, zeroOf(self), soundForPictures(self)) != 0)
        return soundFailed(self);
    tellPlacement(self);
    if (self->strays > kStraysTold)
        GST_ELEMENT_WARNING(self, STREAM, MUX,
                            ("The sound had %u gaps or overlaps in all.", self->strays), (nullptr));
    MovFile* movie = self->movie;
    self->movie = nullptr;
    self->finished = TRUE;
    const int failed = movie->close();
    const int err = movie->writeErrno;
    const bool headerAtEnd = movie->headerRoom > 0 && movie->headerHalf == 0;
    delete movie;
    if (!failed && headerAtEnd && !self->roomFull)
        GST_ELEMENT_WARNING(self, STREAM, MUX,
                            ("The movie is longer than reserved-max-duration: its header did not "
                             "fit the room kept at the start and was written at the end."),
                            (nullptr));
    if (!failed)
        return GST_FLOW_EOS;
    if (self->out.flow != GST_FLOW_OK)
        return self->out.flow;
    GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Could not finish the movie."),
                      ("%s", err ? g_strerror(err) : "the movie writer failed"));
    return GST_FLOW_ERROR;
}

void KEOMuxAbandon(GstKeoMux* self) {
    if (!self->movie)
        return;
    // Downstream is gone by now; what the stream still holds is dropped.
    self->out.discard = TRUE;
    self->movie->abandonWrite();
    delete self->movie;
    self->movie = nullptr;
    if (self->keepsHeader && GST_CLOCK_TIME_IS_VALID(self->lastUpdate))
        GST_ELEMENT_WARNING(self, STREAM, MUX,
                            ("The movie was not finished: it stopped before the end of its "
                             "streams. It holds what its last header update held."),
                            ("up to %" GST_TIME_FORMAT " of %" G_GUINT64_FORMAT " frame(s) written",
                             GST_TIME_ARGS(self->lastUpdate), self->framesWritten));
    else
        GST_ELEMENT_WARNING(self, STREAM, MUX,
                            ("The movie was not finished: it stopped before the end of its "
                             "streams, so it has no header and no player will open it."),
                            ("%" G_GUINT64_FORMAT " frame(s) written", self->framesWritten));
}

void KEOMuxReset(GstKeoMux* self) {
    self->finished = FALSE;
    GST_OBJECT_LOCK(self);
    self->started = FALSE;
    self->storesSound = FALSE;
    self->capsRate = keo::FrameRate{0, 0};
    GST_OBJECT_UNLOCK(self);
    self->rate = keo::FrameRate{0, 1};
    self->rateFromTimes = FALSE;
    self->rateFromDuration = FALSE;
    if (!self->frameTimes)
        self->frameTimes = new std::vector<int64_t>();
    self->frameTimes->clear();
    if (!self->unpacked)
        self->unpacked = new std::vector<guint8>();
    self->videoStart = GST_CLOCK_TIME_NONE;
    self->videoEnd = GST_CLOCK_TIME_NONE;
    gst_clear_buffer(&self->pending);
    self->pendingSlot = -1;
    self->framesWritten = 0;
    self->repeats = self->drops = 0;
    self->firstRepeat = self->firstDrop = GST_CLOCK_TIME_NONE;
    KEOMuxSoundEnd(&self->sound);
    self->strays = 0;
    self->keepsHeader = FALSE;
    self->nextUpdate = GST_CLOCK_TIME_NONE;
    self->lastUpdate = GST_CLOCK_TIME_NONE;
    self->roomFull = FALSE;
}
