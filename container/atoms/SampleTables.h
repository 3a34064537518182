// The sample table atom (stbl) and its tables: stts, stss, stsc, stsz and
// the chunk offsets of stco or co64.
//
// Every table atom begins with version 1 and flags 3. Then:
//   stts  count 4, entries of sampleCount 4, sampleDuration 4
//   stss  count 4, entries of sample number 4
//   stsc  count 4, entries of first chunk 4, samples per chunk 4, id 4
//   stsz  sampleSize 4, count 4, and only when sampleSize is 0 one size 4
//         per sample
//   stco  count 4, entries of offset 4;   co64: the same with offsets of 8
// Samples are numbered from 0, chunks from 1.
#pragma once

#include <cstdint>

#include "container/QuicktimeAtom.h"
#include "container/atoms/SampleDescription.h"

struct QuicktimeSTTSTable {
    int64_t sampleCount;
    int64_t sampleDuration;
};

struct QuicktimeSTTS {
    int32_t version;
    int64_t flags;
    int64_t totalEntries;
    QuicktimeSTTSTable* table;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void deleteMe();
    // The set-ups and growth return non-zero when a table cannot be
    // allocated or a value cannot be stored (SampleTablesWrite.cpp).
    int initTable();
    int initVideo(QuicktimeFile* file, keo::FrameRate rate);
    int initAudio(QuicktimeFile* file);
    void write(QuicktimeFile* file, MovFile& movie);
};

struct QuicktimeSTSS {
    int32_t version;
    int64_t flags;
    int64_t totalEntries;
    int64_t entriesAllocated;
    int64_t* table;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void deleteMe();
    void write(QuicktimeFile* file, MovFile& movie);
};

struct QuicktimeSTSCTable {
    int64_t chunk;   // first chunk of the run, 1-based
    int64_t samples; // samples per chunk
    int64_t id;      // sample description id
};

struct QuicktimeSTSC {
    int32_t version;
    int64_t flags;
    int64_t totalEntries;
    int64_t entriesAllocated;
    QuicktimeSTSCTable* table;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void deleteMe();
    int initVideo(QuicktimeFile* file);
    int initAudio(QuicktimeFile* file);
    int update(int64_t chunk, int64_t samples);
    // Merges runs of equal samples per chunk in place, then writes.
    void write(QuicktimeFile* file, MovFile& movie);
};

struct QuicktimeSTSZ {
    int32_t version;
    int64_t flags;
    int64_t sampleSize; // not 0: every sample has this size and there is no table
    int64_t totalEntries;
    int64_t entriesAllocated;
    int64_t* table;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void deleteMe();
    int initVideo(QuicktimeFile* file);
    void initAudio(QuicktimeFile* file);
    int update(int64_t sample, int64_t bytes);
    void write(QuicktimeFile* file, MovFile& movie);
};

struct QuicktimeSTCO {
    int32_t version;
    int64_t flags;
    int64_t totalEntries;
    int64_t entriesAllocated;
    int64_t* table;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void read64(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void deleteMe();
    int initCommon(QuicktimeFile* file);
    int update(int64_t chunk, int64_t offset);
    // Always as co64.
    void write(QuicktimeFile* file, MovFile& movie);
};

struct QuicktimeSTBL {
    int32_t version;
    int64_t flags;
    QuicktimeSTSD stsd;
    QuicktimeSTTS stts;
    QuicktimeSTSS stss;
    QuicktimeSTSC stsc;
    QuicktimeSTSZ stsz;
    QuicktimeSTCO stco;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie, QuicktimeMInf& minf);
    void deleteMe();
    int initVideo(QuicktimeFile* file, int width, int height, keo::FrameRate rate,
                  char* compressor);
    int initAudio(QuicktimeFile* file, int channels, int sampleRate, int bits, char* compressor);
    void write(QuicktimeFile* file, QuicktimeMInf& minf, MovFile& movie);
};
