// keomux's sound: converted on the way in, placed by time, cut into blocks
// on the way into the movie.
#include "gst/KEOMuxSound.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "base/AudioSamples.h"
#include "base/ByteOrder.h"
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

// Sample frames in one piece of the scratch buffer.
guint64 pieceFrames(const KEOMuxSound* s) {
    return MAX(kPieceBytes / MAX(inFrameBytes(s), storedFrameBytes(s)), gsize{1});
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

// `frames` sample frames of the pad's format in the stored form: the input
// itself, or floats converted into the scratch buffer (at most a piece).
const guint8* stored(KEOMuxSound* s, const guint8* in, guint64 frames) {
    if (s->format != GST_AUDIO_FORMAT_F32LE)
        return in;
    floatsTo24(in, s->scratch, frames * s->channels);
    return s->scratch;
}

// One chunk of `frames` sample frames from `data`.
int writeChunk(MovFile* movie, const guint8* data, guint64 frames, gsize frameBytes) {
    LargeFp* fp = movie->prepareToWriteAudioSample();
    if (!fp)
        return 1;
    const gsize bytes = frames * frameBytes;
    if (bytes > 0 && fwrite_L(data, bytes, 1, fp) != bytes) {
        movie->noteWriteError();
        return 1;
    }
    return movie->endWriteAudioSample(static_cast<int>(frames));
}

// Direct: `frames` stored sample frames (silence when `data` is null) onto
// the end of the movie's sound, a chunk each time the block fills.
int append(KEOMuxSound* s, MovFile* movie, const guint8* data, guint64 frames) {
    const gsize frameBytes = storedFrameBytes(s);
    while (frames > 0) {
        const guint64 n = MIN(frames, s->blockFrames - s->blockFill);
        guint8* to = s->block + s->blockFill * frameBytes;
        if (data) {
            std::memcpy(to, data, n * frameBytes);
            data += n * frameBytes;
        } else {
            std::memset(to, 0, n * frameBytes);
        }
        s->blockFill += n;
        s->written += n;
        frames -= n;
        if (s->blockFill == s->blockFrames) {
            s->blockFill = 0;
            if (writeChunk(movie, s->block, s->blockFrames, frameBytes) != 0)
                return 1;
        }
    }
    return 0;
}

int putDirect(KEOMuxSound* s, MovFile* movie, gint64 zeroNs, const guint8* data, guint64 frames,
              const keo::SoundPlacement& p) {
    if (!s->leadKnown) {
        s->lead = keo::soundFramesIn(s->timeline.startNs - zeroNs, s->rate);
        s->leadKnown = TRUE;
    }
    // Where the buffer's first kept frame goes in the movie; before what
    // the movie has only at the start, for sound that began before time 0.
    const gint64 at = p.at + s->lead;
    guint64 skip = static_cast<guint64>(p.skip);
    if (at < static_cast<gint64>(s->written))
        skip += static_cast<guint64>(static_cast<gint64>(s->written) - at);
    else if (at > static_cast<gint64>(s->written) &&
             append(s, movie, nullptr, static_cast<guint64>(at) - s->written) != 0)
        return 1;
    const guint64 piece = pieceFrames(s);
    for (guint64 i = skip; i < frames; i += piece) {
        const guint64 n = MIN(piece, frames - i);
        if (append(s, movie, stored(s, data + i * inFrameBytes(s), n), n) != 0)
            return 1;
    }
    return 0;
}

int putKept(KEOMuxSound* s, const guint8* data, guint64 frames, const keo::SoundPlacement& p) {
    const guint64 piece = pieceFrames(s);
    for (guint64 i = static_cast<guint64>(p.skip); i < frames; i += piece) {
        const guint64 n = MIN(piece, frames - i);
        const gint64 at = p.at + static_cast<gint64>(i) - p.skip;
        if (!s->spool->write(at, stored(s, data + i * inFrameBytes(s), n),
                             static_cast<int64_t>(n))) {
            s->error = s->spool->error();
            return 1;
        }
    }
    return 0;
}

// Kept: every block of the pictures' length now, read back from the spool.
int storeKept(KEOMuxSound* s, MovFile* movie, gint64 zeroNs, guint64 total) {
    const gsize frameBytes = storedFrameBytes(s);
    const guint64 piece = MAX(pieceFrames(s), guint64{1});
    for (guint64 first = 0; first < total;) {
        const guint64 n = MIN(s->blockFrames, total - first);
        LargeFp* fp = movie->prepareToWriteAudioSample();
        if (!fp)
            return 1;
        // One chunk, written a piece at a time.
        for (guint64 done = 0; done < n;) {
            const guint64 m = MIN(piece, n - done);
            if (!s->spool->read(zeroNs, static_cast<int64_t>(first + done), static_cast<int64_t>(m),
                                s->scratch)) {
                s->error = errno;
                return 1;
            }
            if (fwrite_L(s->scratch, m * frameBytes, 1, fp) != m * frameBytes) {
                movie->noteWriteError();
                return 1;
            }
            done += m;
        }
        if (movie->endWriteAudioSample(static_cast<int>(n)) != 0)
            return 1;
        first += n;
    }
    return 0;
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

bool KEOMuxSoundStart(KEOMuxSound* sound, GstAudioFormat format, int channels, int rate,
                      bool direct, guint64 blockFrames) {
    KEOMuxSoundEnd(sound);
    *sound = KEOMuxSound{};
    sound->format = format;
    sound->channels = channels;
    sound->rate = rate;
    // The writer counts a chunk's samples in an int.
    sound->blockFrames = MIN(MAX(blockFrames, guint64{1}), static_cast<guint64>(INT_MAX));
    sound->timeline.rate = rate;
    if (KEOMuxStoredBits(format) == 0 || channels < 1 || rate < 1) {
        errno = EINVAL;
        return false;
    }
    if (direct) {
        sound->block = static_cast<guint8*>(g_malloc(sound->blockFrames * storedFrameBytes(sound)));
    } else {
        sound->spool = new keo::SoundSpool();
        if (const int err = sound->spool->open(static_cast<int>(storedFrameBytes(sound)), rate)) {
            KEOMuxSoundEnd(sound);
            errno = err;
            return false;
        }
    }
    sound->scratch = static_cast<guint8*>(g_malloc(pieceFrames(sound) * storedFrameBytes(sound)));
    return true;
}

int KEOMuxSoundPut(KEOMuxSound* sound, MovFile* movie, gint64 zeroNs, gint64 timeNs,
                   const guint8* data, guint64 frames, keo::SoundPlacement* placed) {
    if (sound->error != 0)
        return 1;
    const auto n = static_cast<int64_t>(frames);
    *placed = sound->spool ? sound->spool->place(timeNs, n) : sound->timeline.place(timeNs, n);
    return sound->spool ? putKept(sound, data, frames, *placed)
                        : putDirect(sound, movie, zeroNs, data, frames, *placed);
}

int KEOMuxSoundFinish(KEOMuxSound* sound, MovFile* movie, gint64 zeroNs, guint64 total) {
    if (sound->error != 0)
        return 1;
    if (sound->spool)
        return storeKept(sound, movie, zeroNs, total);
    if (sound->written < total && append(sound, movie, nullptr, total - sound->written) != 0)
        return 1;
    // Sound past the pictures: first what waits in the block, then what
    // the movie holds already.
    const guint64 extra = MIN(sound->written - MIN(sound->written, total), sound->blockFill);
    sound->blockFill -= extra;
    sound->written -= extra;
    if (sound->blockFill > 0 &&
        writeChunk(movie, sound->block, sound->blockFill, storedFrameBytes(sound)) != 0)
        return 1;
    sound->blockFill = 0;
    return sound->written > total ? movie->cutAudio(static_cast<int64_t>(total)) : 0;
}

void KEOMuxSoundEnd(KEOMuxSound* sound) {
    delete sound->spool;
    sound->spool = nullptr;
    g_clear_pointer(&sound->block, g_free);
    g_clear_pointer(&sound->scratch, g_free);
}
