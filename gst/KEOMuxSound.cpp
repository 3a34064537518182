// keomux's sound: converted on the way into the temporary file, cut into
// blocks on the way out.
#include "gst/KEOMuxSound.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

#include "base/AudioSamples.h"
#include "base/ByteOrder.h"
#include "base/TempFile.h"
#include "container/MovFile.h"

namespace {

// Bytes converted, or copied into the movie, at a time.
constexpr gsize kPieceBytes = gsize{1} << 20;

gsize inFrameBytes(const KEOMuxSound* s) {
    const int bytes = s->format == GST_AUDIO_FORMAT_S16LE   ? 2
                      : s->format == GST_AUDIO_FORMAT_S24LE ? 3
                                                            : 4;
    return static_cast<gsize>(s->channels) * bytes;
}

gsize storedFrameBytes(const KEOMuxSound* s) {
    return static_cast<gsize>(s->channels) * KEOMuxStoredBits(s->format) / 8;
}

gsize scratchBytes(const KEOMuxSound* s) {
    const gsize frame = MAX(inFrameBytes(s), storedFrameBytes(s));
    return MAX(kPieceBytes / frame, gsize{1}) * frame;
}

// As the host converts floats for an export (base/AudioSamples.h).
void floatsTo24(const guint8* in, guint8* out, guint64 count) {
    for (guint64 i = 0; i < count; ++i) {
        const guint32 bits = keo::loadLE32(in + i * 4);
        float f;
        std::memcpy(&f, &bits, 4);
        const guint32 u = static_cast<guint32>(keo::floatToSample(f, 24));
        out[i * 3] = static_cast<guint8>(u);
        out[i * 3 + 1] = static_cast<guint8>(u >> 8);
        out[i * 3 + 2] = static_cast<guint8>(u >> 16);
    }
}

bool writeAt(KEOMuxSound* s, const guint8* data, gsize bytes, guint64 at) {
    for (gsize done = 0; done < bytes;) {
        const ssize_t n = pwrite(s->fd, data + done, bytes - done, static_cast<off_t>(at + done));
        if (n <= 0) {
            s->error = n < 0 ? errno : ENOSPC;
            return false;
        }
        done += static_cast<gsize>(n);
    }
    return true;
}

// `bytes` bytes from `at`; what lies past the end of the file (silence kept
// as a hole at the end) reads as zeros.
bool readAt(KEOMuxSound* s, guint8* data, gsize bytes, guint64 at) {
    gsize done = 0;
    while (done < bytes) {
        const ssize_t n = pread(s->fd, data + done, bytes - done, static_cast<off_t>(at + done));
        if (n < 0) {
            s->error = errno;
            return false;
        }
        if (n == 0)
            break;
        done += static_cast<gsize>(n);
    }
    std::memset(data + done, 0, bytes - done);
    return true;
}

} // namespace

int KEOMuxStoredBits(GstAudioFormat format) {
    switch (format) {
    case GST_AUDIO_FORMAT_S16LE:
        return 16;
    case GST_AUDIO_FORMAT_S24LE:
    case GST_AUDIO_FORMAT_F32LE:
        return 24;
    case GST_AUDIO_FORMAT_S32LE:
        return 32;
    default:
        return 0;
    }
}

bool KEOMuxSoundStart(KEOMuxSound* sound, GstAudioFormat format, int channels) {
    KEOMuxSoundEnd(sound);
    sound->format = format;
    sound->channels = channels;
    sound->frames = 0;
    sound->error = 0;
    if (KEOMuxStoredBits(format) == 0 || channels < 1) {
        errno = EINVAL;
        return false;
    }
    sound->fd = keo::openUnnamedTemporary();
    if (sound->fd < 0)
        return false;
    sound->scratch = static_cast<guint8*>(g_malloc(scratchBytes(sound)));
    return true;
}

bool KEOMuxSoundAdd(KEOMuxSound* sound, const guint8* data, guint64 frames) {
    if (sound->fd < 0 || sound->error != 0)
        return false;
    const gsize inBytes = inFrameBytes(sound), outBytes = storedFrameBytes(sound);
    if (!data) {
        // Silence is a hole the file grows by; it reads back as zeros.
        const guint64 end = (sound->frames + frames) * outBytes;
        if (ftruncate(sound->fd, static_cast<off_t>(end)) != 0) {
            sound->error = errno;
            return false;
        }
        sound->frames += frames;
        return true;
    }
    const guint64 piece = scratchBytes(sound) / MAX(inBytes, outBytes);
    while (frames > 0) {
        const guint64 n = MIN(frames, piece);
        const guint8* stored = data;
        if (sound->format == GST_AUDIO_FORMAT_F32LE) {
            floatsTo24(data, sound->scratch, n * sound->channels);
            stored = sound->scratch;
        }
        if (!writeAt(sound, stored, n * outBytes, sound->frames * outBytes))
            return false;
        sound->frames += n;
        data += n * inBytes;
        frames -= n;
    }
    return true;
}

int KEOMuxSoundStore(KEOMuxSound* sound, MovFile* movie, guint64 blockFrames) {
    if (sound->fd < 0 || sound->error != 0 || blockFrames == 0)
        return 1;
    // The writer counts a chunk's samples in an int.
    const guint64 block = MIN(blockFrames, static_cast<guint64>(INT_MAX));
    const gsize frameBytes = storedFrameBytes(sound), piece = scratchBytes(sound);
    for (guint64 first = 0; first < sound->frames;) {
        const guint64 n = MIN(block, sound->frames - first);
        LargeFp* fp = movie->prepareToWriteAudioSample();
        if (!fp)
            return 1;
        // One chunk, written a piece at a time.
        const guint64 end = (first + n) * frameBytes;
        for (guint64 at = first * frameBytes; at < end;) {
            const gsize bytes = static_cast<gsize>(MIN(static_cast<guint64>(piece), end - at));
            if (!readAt(sound, sound->scratch, bytes, at))
                return 1;
            if (fwrite_L(sound->scratch, bytes, 1, fp) != bytes) {
                movie->noteWriteError();
                return 1;
            }
            at += bytes;
        }
        if (movie->endWriteAudioSample(static_cast<int>(n)) != 0)
            return 1;
        first += n;
    }
    return 0;
}

void KEOMuxSoundEnd(KEOMuxSound* sound) {
    if (sound->fd >= 0)
        close(sound->fd);
    sound->fd = -1;
    g_clear_pointer(&sound->scratch, g_free);
}
