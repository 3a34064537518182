// The media atom and what lies below it down to the sample table:
// mdia, mdhd, hdlr, minf, vmhd, smhd, dinf, dref.
#pragma once

#include <cstdint>

#include "container/QuicktimeAtom.h"
#include "container/atoms/SampleTables.h"

// mdhd, version 0 body (24 bytes):
//   version 1, flags 3, creationTime 4, modificationTime 4, timeScale 4,
//   duration 4, language 2, quality 2
struct QuicktimeMDHD {
    int32_t version;
    int64_t flags;
    int64_t creationTime;
    int64_t modificationTime;
    int64_t timeScale;
    int64_t duration;
    int32_t language;
    int32_t quality;

    void init();
    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void initVideo(QuicktimeFile* file, int width, int height, keo::FrameRate rate);
    void initAudio(QuicktimeFile* file, int sampleRate);
    void write(QuicktimeFile* file, MovFile& movie);
};

// hdlr: version 1, flags 3, componentType 4, componentSubtype 4,
//   componentManufacturer 4, componentFlags 4, componentFlagsMask 4,
//   componentName (Pascal string: length byte + text; read as a C string,
//   up to a zero byte or the atom's end, when the length byte runs past
//   the atom, since many writers store it that way)
struct QuicktimeHDLR {
    int32_t version;
    int64_t flags;
    char componentType[4];
    char componentSubtype[4];
    int64_t componentManufacturer;
    int64_t componentFlags;
    int64_t componentFlagsMask;
    char componentName[256];

    void init();
    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void initVideo();
    void initAudio();
    void write(QuicktimeFile* file, MovFile& movie);
};

// vmhd (12-byte body): version 1, flags 3, graphicsMode 2, opcolor 3 x 2
struct QuicktimeVMHD {
    int32_t version;
    int64_t flags;
    int32_t graphicsMode;
    int32_t opcolor[3];

    void init();
    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void initVideo();
    void write(QuicktimeFile* file, MovFile& movie);
};

// smhd (8-byte body): version 1, flags 3, balance 2, reserved 2
struct QuicktimeSMHD {
    int32_t version;
    int64_t flags;
    int32_t balance;
    int32_t reserved;

    void init();
    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void write(QuicktimeFile* file, MovFile& movie);
};

// One data reference: size 4 (with this header), type 4, version 1,
// flags 3, then size - 12 bytes of data.
struct QuicktimeDRefTable {
    int64_t size;
    char type[4];
    int32_t version;
    int64_t flags;
    char* dataReference; // terminated

    void init();
    void deleteMe();
    void write(QuicktimeFile* file, MovFile& movie);
};

// dref: version 1, flags 3, entry count 4, entries
struct QuicktimeDRef {
    int32_t version;
    int64_t flags;
    int64_t totalEntries;
    QuicktimeDRefTable* table;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void deleteMe();
    int initAll();
    void write(QuicktimeFile* file, MovFile& movie);
};

// dinf: holds dref
struct QuicktimeDInf {
    QuicktimeDRef dref;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    int initAll();
    void write(QuicktimeFile* file, MovFile& movie);
    void deleteMe() { dref.deleteMe(); }
};

// minf: vmhd or smhd (which mark the track's kind), hdlr, dinf, stbl
struct QuicktimeMInf {
    int32_t isVideo;
    int32_t isAudio;
    QuicktimeVMHD vmhd;
    QuicktimeSMHD smhd;
    QuicktimeSTBL stbl;
    QuicktimeHDLR hdlr;
    QuicktimeDInf dinf;

    void init();
    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void deleteMe();
    int initVideo(QuicktimeFile* file, int width, int height, keo::FrameRate rate,
                  char* compressor);
    int initAudio(QuicktimeFile* file, int channels, int sampleRate, int bits, char* compressor);
    void write(QuicktimeFile* file, MovFile& movie);
};

// mdia: mdhd, hdlr, minf
struct QuicktimeMdia {
    QuicktimeMDHD mdhd;
    QuicktimeMInf minf;
    QuicktimeHDLR hdlr;

    // Defaults of a new track's media; no table gets room here (the writer
    // makes room when it sets a track up as video or audio).
    void init();
    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie);
    void deleteMe() { minf.deleteMe(); }
    int initVideo(QuicktimeFile* file, int width, int height, keo::FrameRate rate,
                  char* compressor);
    int initAudio(QuicktimeFile* file, int channels, int sampleRate, int bits, char* compressor);
    void write(QuicktimeFile* file, MovFile& movie);
};
