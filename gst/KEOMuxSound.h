// keomux's sound: placed by its timestamps, stored as keo export stores it.
//
// Every buffer goes where its timestamp says against the movie's time 0
// (the first frame), by the rule keo export's sound follows
// (base/SoundSpool.h): a gap of more than 40 ms becomes silence, an overlap
// of more is dropped, closer than that a buffer follows on. Sound that
// starts after the first frame is preceded by silence, sound that starts
// before it loses its lead. At the end the sound is cut or padded to the
// pictures' length, as keo export cuts or pads a WAV to its frames.
//
// Two ways to the file:
// - kept (the default): the sound waits in a spool, an unnamed temporary
//   file, and goes in after the last frame in blocks of one frame's worth
//   of sample frames, rounded up (base/FrameRate.h, soundBlockFrames), each
//   block one chunk: keo export's layout, so the same frames and sound give
//   the same file.
// - direct (a recording that keeps its header up to date): the sound goes
//   into the movie as it comes, in chunks of the same size between the
//   frames, so that whatever a header update names is in the file.
//
// 16 and 24-bit integers are stored as they are, as are 32-bit ones (keo
// export's pass through the host's floats keeps only 24 of their bits;
// keomux has no such path); floats become 24-bit integers as the host
// converts them (base/AudioSamples.h).
#pragma once

#include <gst/audio/audio.h>

#include "base/SoundSpool.h"

struct MovFile;

struct KEOMuxSound {
    GstAudioFormat format; // as the pad takes it
    int channels;
    int rate;
    guint64 blockFrames;    // sample frames a chunk
    keo::SoundSpool* spool; // kept: everything until the end; null when direct
    // Direct: where the buffers are placed, how far the movie's frames are
    // from that line's (set by the first buffer), and the sample frames
    // the movie has so far, the block being filled included.
    keo::SoundTimeline timeline;
    gint64 lead;
    gboolean leadKnown;
    guint64 written;
    guint8* block; // direct: the chunk being filled, in the stored form
    guint64 blockFill;
    int error;       // errno of the first spool write that failed; 0 while none has
    guint8* scratch; // one piece of converted samples
};

// The bits a sound in `format` is stored with; 0 for a format keomux does
// not take.
int KEOMuxStoredBits(GstAudioFormat format);

// Starts the sound of a movie, kept or `direct`; false (with errno) when
// the spool's temporary file cannot be made. The caller zero-fills the
// struct once before the first start.
bool KEOMuxSoundStart(KEOMuxSound* sound, GstAudioFormat format, int channels, int rate,
                      bool direct, guint64 blockFrames);
// One buffer of `frames` sample frames in the pad's format at running time
// `timeNs` (negative: unknown, it follows on), the movie's time 0 being
// `zeroNs`. `placed` tells what the rule did with it. 0; non-zero when it
// could not be kept (`error`) or written (the movie's writeErrno).
int KEOMuxSoundPut(KEOMuxSound* sound, MovFile* movie, gint64 zeroNs, gint64 timeNs,
                   const guint8* data, guint64 frames, keo::SoundPlacement* placed);
// Ends the sound at `total` sample frames from the movie's time 0 (the
// pictures' length): kept sound goes into the movie now, direct sound is
// padded with silence or cut. 0, or non-zero as above.
int KEOMuxSoundFinish(KEOMuxSound* sound, MovFile* movie, gint64 zeroNs, guint64 total);
// Frees everything; safe when never started, and twice.
void KEOMuxSoundEnd(KEOMuxSound* sound);
