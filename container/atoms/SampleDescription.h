// The sample description atom (stsd) and its entries.
//
// stsd: version 1, flags 3, entry count 4, then one atom per entry:
//   size 4, format 4, reserved 6, dataReference 2, then
//   video body (70): version 2, revision 2, vendor 4, temporalQuality 4,
//     spatialQuality 4, width 2, height 2, dpiHorizontal 4 (16.16),
//     dpiVertical 4 (16.16), dataSize 4, framesPerSample 2,
//     compressorName 32 (length byte + 31), depth 2, ctabId 2,
//     then extension atoms (ctab, fiel, gama, others skipped);
//   sound body (20, or 36 for version 1): version 2, revision 2, vendor 4,
//     channels 2, sampleSize 2, compressionId 2, packetSize 2,
//     sampleRate 4 (16.16); version 1 adds samplesPerPacket,
//     bytesPerPacket, bytesPerFrame, bytesPerSample (4 each).
//
// A video track whose description is not ZUVM makes the movie unacceptable.
#pragma once

#include <cstdint>

#include "container/QuicktimeAtom.h"
#include "container/atoms/MovieHeader.h"

struct QuicktimeMInf;

// The sound rates a movie can hold. The sound description stores the rate
// as the integer part of a 16.16 field, so a rate above 65535 keeps only
// its low 16 bits, and readers take back only the two wrapped values they
// know: 88200 (stored as 22664) and 96000 (stored as 30464). Those two are
// therefore the only rates above 65535 a movie holds, and 22664 and 30464
// themselves, which would read back as them, are none.
inline bool QuicktimeSoundRateFits(int64_t rate) {
    if (rate == 88200 || rate == 96000)
        return true;
    return rate > 0 && rate <= 65535 && rate != 88200 - 65536 && rate != 96000 - 65536;
}

struct QuicktimeSTSDTable {
    char format[4];
    char reserved[6];
    int32_t dataReference;
    int32_t version;
    int32_t revision;
    char vendor[4];
    int64_t temporalQuality;
    int64_t spatialQuality;
    int32_t width;
    int32_t height;
    float dpiHorizontal;
    float dpiVertical;
    int64_t dataSize;
    int32_t framesPerSample;
    char compressorName[32];
    int32_t depth;
    int32_t ctabId;
    QuicktimeCTab ctab;
    float gamma;
    int32_t fields;
    int32_t fieldDominance;
    int32_t channels;
    int32_t sampleSize;
    int32_t compressionId;
    int32_t packetSize;
    float sampleRate;
    int32_t samplesPerPacket;
    int32_t bytesPerPacket;
    int32_t bytesPerFrame;
    int32_t bytesPerSample;

    // New-movie defaults; also applied before every entry is read.
    void init();
    // Reads the entry atom at the cursor of `stsd`; an entry that is not
    // there whole fails `stsd`.
    void read(QuicktimeFile* file, QuicktimeMInf& minf, MovFile& movie, AtomReader& stsd);
    void readVideo(QuicktimeFile* file, AtomReader& entry, MovFile& movie);
    void readAudio(QuicktimeFile* file, AtomReader& entry, MovFile& movie);
    // True when `format`, read as a terminated string, equals the 4cc.
    bool formatIs(const char* fourcc) const;
    // format followed by reserved up to the first zero, terminated (11 bytes).
    void formatText(char* out) const;
    // Writes the description atom; the media information says which part.
    void write(QuicktimeFile* file, QuicktimeMInf& minf, MovFile& movie);
    void writeVideo(QuicktimeFile* file, MovFile& movie);
    void writeAudio(QuicktimeFile* file, MovFile& movie);
};

struct QuicktimeSTSD {
    int32_t version;
    int64_t flags;
    int64_t totalEntries;
    QuicktimeSTSDTable* table;

    void read(QuicktimeFile* file, AtomReader& atom, MovFile& movie, QuicktimeMInf& minf);
    void deleteMe();
    // One description with the defaults when there is none; non-zero when
    // it cannot be allocated.
    int initTable();
    int initVideo(QuicktimeFile* file, int width, int height, keo::FrameRate rate,
                  char* compressor);
    int initAudio(QuicktimeFile* file, int channels, int sampleRate, int bits, char* compressor);
    void write(QuicktimeFile* file, QuicktimeMInf& minf, MovFile& movie);
};
