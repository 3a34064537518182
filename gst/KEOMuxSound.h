// keomux's sound, kept aside until the last frame and then stored as keo
// export stores it.
//
// keo export writes every frame first and then the whole sound, in blocks
// of one frame's worth of sample frames, rounded up (base/FrameRate.h,
// soundBlockFrames), each block one chunk; its 16 and 24-bit integers come
// through the host's float sound path unchanged and floats become 24-bit
// integers. keomux does the same, so the same frames and sound give the same
// file. 32-bit integers are the exception: the host's floats keep 24 of their
// bits, and keomux, which has no such path, keeps all 32.
//
// Until the end the sound waits, already in the form it is stored in, in an
// unnamed temporary file (base/TempFile.h): memory stays bounded whatever
// the length, and nothing is left behind if the process dies.
#pragma once

#include <gst/audio/audio.h>

struct MovFile;

struct KEOMuxSound {
    int fd;                // the temporary file; -1 without one
    GstAudioFormat format; // as the pad takes it
    int channels;
    guint64 frames;  // sample frames kept
    int error;       // errno of the first write that failed; 0 while none has
    guint8* scratch; // one piece of converted samples
};

// The bits a sound in `format` is stored with; 0 for a format keomux does
// not take.
int KEOMuxStoredBits(GstAudioFormat format);

// Makes the temporary file; false (with errno) when none can be made.
bool KEOMuxSoundStart(KEOMuxSound* sound, GstAudioFormat format, int channels);
// Keeps `frames` sample frames in the pad's format, or as many of silence
// when `data` is null. False once a write has failed (error says why).
bool KEOMuxSoundAdd(KEOMuxSound* sound, const guint8* data, guint64 frames);
// Stores everything kept into the movie's sound track, `blockFrames` sample
// frames a chunk (the last one what is left). 0, or non-zero when a chunk
// did not go in: the movie's writeErrno, else `error`, says why.
int KEOMuxSoundStore(KEOMuxSound* sound, MovFile* movie, guint64 blockFrames);
// Closes the file and frees the scratch; safe when never started, and twice.
void KEOMuxSoundEnd(KEOMuxSound* sound);
