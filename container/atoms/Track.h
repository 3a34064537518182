// The track atom and its own children: trak, tkhd, edts, elst. The sample
// lookups of a track are in container/TrackLookups.cpp.
#pragma once

#include <cstdint>

#include "container/QuicktimeAtom.h"
#include "container/QuicktimeMatrix.h"
#include "container/atoms/Media.h"

// tkhd, version 0 body (84 bytes):
//   version 1, flags 3, creationTime 4, modificationTime 4, trackId 4,
//   reserved1 4, duration 4, reserved2 8, layer 2, alternateGroup 2,
//   volume 2 (8.8), reserved3 2, matrix 36, trackWidth 4 (16.16),
//   trackHeight 4 (16.16)
struct QuicktimeTKHD {
    int32_t version;
    int64_t flags;
    int64_t creationTime;
    int64_t modificationTime;
    int32_t trackId;
    int64_t reserved1;
    int64_t duration;
    char reserved2[8];
    int32_t layer;
    int32_t alternateGroup;
    float volume;
    int64_t reserved3;
    QuicktimeMatrix matrix;
    float trackWidth;
    float trackHeight;

    void init();
    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void initVideo(int width, int height);
    void write(QuicktimeFile* file, MovFile& movie);
};

// One edit: duration 4, time 4 (unsigned: the empty edit -1 reads as
// 4294967295), rate 4 (16.16)
struct QuicktimeELSTTable {
    int64_t duration;
    int64_t time;
    float rate;

    void init();
    void write(QuicktimeFile* file, long trackDuration, MovFile& movie);
};

// elst: version 1, flags 3, entry count 4, entries of 12 bytes
struct QuicktimeELST {
    int32_t version;
    int64_t flags;
    int64_t totalEntries;
    QuicktimeELSTTable* table;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void deleteMe();
    int initAll();
    void write(QuicktimeFile* file, int64_t trackDuration, MovFile& movie);
};

// edts: holds elst
struct QuicktimeEDTS {
    QuicktimeELST elst;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    int initTable();
    void write(QuicktimeFile* file, int64_t trackDuration, MovFile& movie);
    void deleteMe() { elst.deleteMe(); }
};

// trak: tkhd, edts, mdia
struct QuicktimeTrak {
    QuicktimeTKHD tkhd;
    QuicktimeMdia mdia;
    QuicktimeEDTS edts;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void deleteMe();

    // Sample lookups (TrackLookups.cpp). Samples from 0, chunks from 1.
    // The chunk holding `sample` and that chunk's first sample; chunk 0 when
    // the sample lies in no chunk (empty table, or a run of 0 samples).
    void chunkOfSample(QuicktimeFile* file, int64_t* chunkFirstSample, int64_t* chunk,
                       int64_t sample) const;
    // Samples in all chunks before `chunk` (saturates instead of wrapping).
    int64_t sampleOfChunk(int64_t chunk) const;
    // Samples per chunk of `chunk`; 0 with an empty table.
    int64_t chunkSamples(int64_t chunk) const;
    // Offset of `chunk`: 16 without offsets, the last one past the end.
    int64_t chunkToOffset(QuicktimeFile* file, int64_t chunk) const;
    // Bytes of samples from .. to-1; -1 when the sum does not fit.
    int64_t sampleRangeSize(int64_t from, int64_t to) const;
    // Offset of the first byte of `sample`; -1 when the sample has no chunk
    // in the chunk offset table or its offset does not fit.
    int64_t sampleToOffset(QuicktimeFile* file, int64_t sample) const;
    // Samples of the track; 0 when they cannot be counted.
    int64_t samples(QuicktimeFile* file, MovFile& movie) const;
    // Sum of the time-to-sample durations and the media time scale;
    // returns 1 (duration 0) when the sum does not fit in 64 bits.
    int duration(int64_t* duration, int64_t* timeScale) const;

    // The first sample description, or null when there is none.
    const QuicktimeSTSDTable* firstDescription() const;

    // Writing (TrackWrite.cpp, SampleTablesWrite.cpp). The set-ups return
    // non-zero when a table cannot be allocated.
    int initVideo(QuicktimeFile* file, int width, int height, keo::FrameRate rate,
                  char* compressor);
    int initAudio(QuicktimeFile* file, int channels, int sampleRate, int bits, char* compressor);
    void write(QuicktimeFile* file, int64_t movieTimeScale, MovFile& movie);
    // The media duration in movie units, as the track header stores it;
    // -1 when it cannot be computed.
    int64_t durationInMovieUnits(int64_t movieTimeScale) const;
    void writeChunkHeader(QuicktimeFile* file, QuicktimeAtom& chunk, MovFile& movie);
    // Enters the chunk that began at chunk.start and ends at the current
    // position into all three chunk tables, or into none (non-zero).
    int writeChunkFooter(QuicktimeFile* file, int64_t currentChunk, QuicktimeAtom& chunk,
                         int samples, MovFile& movie);
    // Non-zero when the track's sample count does not fit 32 bits.
    int fixCounts(QuicktimeFile* file, MovFile& movie);
};
