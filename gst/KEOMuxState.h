// keomux's instance, shared by the element itself (gst/KEOMux.cpp: pads,
// caps, properties) and its recording (gst/KEOMuxRecord.cpp: the movie
// started, frames placed, sound kept, the header kept up to date, the
// movie finished).
#pragma once

#include <gst/audio/audio.h>

#include <vector>

#include "container/MovFile.h"
#include "gst/KEOMux.h"
#include "gst/KEOMuxOutput.h"
#include "gst/KEOMuxSound.h"

struct _GstKeoMux {
    GstAggregator parent;
    // The request pads; the element holds them, so no reference of ours.
    GstAggregatorPad* videoPad;
    GstAggregatorPad* audioPad;

    // Under the object lock: the properties,
    int rateN, rateD;                  // framerate; 0/1: the stream's
    GstClockTime reservedMaxDuration;  // room for the header; NONE or 0: none
    GstClockTime reservedUpdatePeriod; // header rewritten this often; NONE: never
    // the pads' formats from their caps,
    gboolean haveVideoCaps;
    int width, height, fpsN, fpsD;
    gboolean haveAudioCaps;
    GstAudioInfo audio;
    // and, from the movie's start, what later caps must keep to: its size,
    // the caps' rate when the movie's rate is that one (else 0/0), its sound.
    gboolean started;
    int movieW, movieH;
    keo::FrameRate capsRate;
    gboolean storesSound;
    GstAudioInfo stored;

    // The rest belongs to the source pad's thread, from start to stop.
    MovFile* movie; // from the first byte to the end of the movie
    KEOMuxOutput out;
    gboolean finished;
    // The frames: the movie's rate, and whether the frames' own timestamps
    // settle it at the end (then every frame's time is kept); slot 0's
    // time and where the stream ends; the frame that waits for its slot to
    // be sure (a later frame for the same slot replaces it).
    keo::FrameRate rate;
    gboolean rateFromTimes;
    gboolean rateFromDuration; // the first frame's duration gave the rate so far
    std::vector<int64_t>* frameTimes;
    GstClockTime videoStart, videoEnd;
    GstBuffer* pending;
    gint64 pendingSlot;
    guint64 framesWritten;
    guint64 repeats, drops;
    GstClockTime firstRepeat, firstDrop;
    std::vector<guint8>* unpacked; // an LZF payload unpacked to check its size
    // The sound, and how many gaps and overlaps were told of.
    KEOMuxSound sound;
    guint strays;
    // The header kept up to date at the start of the file.
    gboolean keepsHeader;
    GstClockTime nextUpdate, lastUpdate;
    gboolean roomFull;
};

// keomux's recording, on the source pad's thread (KEOMuxRecord.cpp).
// Opens the movie once the first frame, and the first sound if any is to
// come, are at hand; GST_FLOW_OK with no movie means "not yet".
GstFlowReturn KEOMuxStart(GstKeoMux* self);
GstFlowReturn KEOMuxTakeFrame(GstKeoMux* self, GstBuffer* buffer, GstClockTime time);
GstFlowReturn KEOMuxTakeSound(GstKeoMux* self, GstBuffer* buffer, GstClockTime time);
// GST_FLOW_EOS once the movie is complete.
GstFlowReturn KEOMuxFinish(GstKeoMux* self);
// Gives up a movie stopped before its end, with a warning that says what
// the file holds.
void KEOMuxAbandon(GstKeoMux* self);
// Back to the state of a muxer that has written nothing.
void KEOMuxReset(GstKeoMux* self);
// A buffer's running time on its pad; NONE when it has none.
GstClockTime KEOMuxRunningTime(GstAggregatorPad* pad, GstBuffer* buffer);
