// The movie atom and its own children: moov, mvhd, udta, ctab (and cmov,
// whose children are read as children of moov).
#pragma once

#include <cstdint>

#include "base/FrameRate.h"
#include "container/QuicktimeAtom.h"
#include "container/QuicktimeMatrix.h"

class AtomReader;
struct MovFile;
struct QuicktimeFile;
struct QuicktimeTrak;

// A video frame rate as a movie states it: a time scale (units per second,
// in the movie and the media headers) and a sample duration (units per
// frame, in the time-to-sample table), each a 32-bit field.
struct QuicktimeTimeBase {
    int64_t timeScale;      // units per second
    int64_t sampleDuration; // units per frame
};

// mvhd, version 0 body (100 bytes):
//   version 1, flags 3, creationTime 4, modificationTime 4, timeScale 4,
//   duration 4, preferredRate 4 (16.16), preferredVolume 2 (8.8),
//   reserved 10, matrix 36, previewTime 4, previewDuration 4, posterTime 4,
//   selectionTime 4, selectionDuration 4, currentTime 4, nextTrackId 4
struct QuicktimeMVHD {
    int32_t version;
    int64_t flags;
    int64_t creationTime;
    int64_t modificationTime;
    int64_t timeScale;
    int64_t duration;
    float preferredRate;
    float preferredVolume;
    char reserved[10];
    QuicktimeMatrix matrix;
    int64_t previewTime;
    int64_t previewDuration;
    int64_t posterTime;
    int64_t selectionTime;
    int64_t selectionDuration;
    int64_t currentTime;
    int64_t nextTrackId;

    void init();
    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    // The time scale of the movie and of a video track's media, and the
    // track's sample duration, for a frame rate: a pair whose quotient is
    // the rate exactly (MovieHeaderWrite.cpp says how it is chosen); both 0
    // for a rate that does not fit (keo::rateFitsMovie).
    static QuicktimeTimeBase getTimeBase(keo::FrameRate rate);
    void write(QuicktimeFile* file, MovFile& movie);
};

// udta: user data texts. Reading skips every child; the texts are what a new
// movie writes (under the keys 0xA9 'cpy', 0xA9 'nam', 0xA9 'inf').
struct QuicktimeUDTA {
    char* cpy;
    int32_t cpyLen;
    char* nam;
    int32_t namLen;
    char* inf;
    int32_t infLen;

    void init();
    void deleteMe();
    void write(QuicktimeFile* file, MovFile& movie);
    void writeString(QuicktimeFile* file, const char* type, const char* text, int32_t length,
                     MovFile& movie);
};

// ctab: seed 4, flags 2, size 2 (entries - 1), then per entry
//   value 2, red 2, green 2, blue 2
struct QuicktimeCTab {
    int64_t seed;
    int64_t flags;
    int64_t size; // number of entries
    uint16_t* values;
    uint16_t* red;
    uint16_t* green;
    uint16_t* blue;

    void init();
    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void deleteMe();
};

enum { kQuicktimeMaxTracks = 1024 };

// moov: mvhd, trak..., udta, ctab, clip (skipped), cmov (entered).
struct QuicktimeMOOV {
    int64_t totalTracks;
    QuicktimeMVHD mvhd;
    QuicktimeTrak* trak[kQuicktimeMaxTracks];
    QuicktimeUDTA udta;
    QuicktimeCTab ctab;

    // New-movie defaults: movie header, credit text, no tracks.
    void init();
    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    // A new track with the track-header defaults and an initialised media;
    // null when all 1024 slots are used (further tracks are ignored).
    QuicktimeTrak* addTrak();
    // Fixes every track's counts and durations and writes the movie atom at
    // the current position, which it leaves unchanged. Non-zero, with
    // nothing written, when a value does not fit its 32-bit field.
    int write(QuicktimeFile* file, MovFile& movie);
    void deleteTrak();
    void deleteMe();

    // Walks the children of `parent` (moov or a cmov inside it).
    void readChildren(QuicktimeFile* file, AtomReader& parent, MovFile& movie, int depth);
};

// The credit text that every new movie carries as its information entry.
extern const char kQuicktimeCreditText[];
