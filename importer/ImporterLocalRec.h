// The importer's per-file record and the header area it starts with.
//
// The host allocates one ImporterLocalRec8 per imported file as a handle of
// kImporterRecordSize bytes and passes it back with every call about that
// file; imGetPrefs8 reports the same size for the preferences block. The
// record holds pointers, so its layout is that of the 64-bit target.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KEOHostAPI.h"

struct MovFile;
struct LargeFp;

enum { kImporterRecordSize = 1216, kRecordNameUnits = 256, kSDKFileHeaderSize = 606 };

// SDK_File: the 606-byte header of the simple uncompressed file layout that
// the fork utilities (SDKFile.h) read: the header, then the frames (every
// frame after the first preceded by 4 bytes), then the audio as 32-bit floats,
// channel after channel. The importer path uses only its frame-rate fields:
// imGetInfo8 keeps there the rate it told the host, by which every frame
// request finds its frame (the record has no room for fields of its own,
// since its size is the preferences size that hosts store).
//
//   offset  width  field
//   0       4      signature ('K', 'S', 'D', 'K')
//   4       2      version
//   6       1      hasVideo      frames follow the header
//   7       1      hasAudio      float audio follows the frames
//   8       4      width         pixels, 4 bytes each
//   12      4      height
//   16      4      depth         bits per pixel
//   20      4      fieldType
//   24      4      pixelAspectNum
//   28      4      pixelAspectDen
//   32      4      frameRateScale
//   36      4      frameRateSampleSize
//   40      4      numFrames
//   44      4      numChannels
//   48      4      audioSampleType
//   52      4      audioSampleRate (float)
//   56      8      numSampleFrames (per channel)
//   64      512    name           256 UTF-16 units, zero-terminated
//   576     30     reserved
//
// The record is packed so that it is exactly 606 bytes in any build; its
// multi-byte fields are in the machine's order, like the rest of the record.
#pragma pack(push, 1)
struct SDK_File {
    char signature[4];
    uint16_t version;
    uint8_t hasVideo;
    uint8_t hasAudio;
    int32_t width;
    int32_t height;
    int32_t depth;
    int32_t fieldType;
    int32_t pixelAspectNum;
    int32_t pixelAspectDen;
    int32_t frameRateScale;
    int32_t frameRateSampleSize;
    int32_t numFrames;
    int32_t numChannels;
    int32_t audioSampleType;
    float audioSampleRate;
    int64_t numSampleFrames;
    uint16_t name[kRecordNameUnits];
    uint8_t reserved[30];
};
#pragma pack(pop)
static_assert(sizeof(SDK_File) == kSDKFileHeaderSize, "SDK_File is the 606-byte file header");

struct ImporterLocalRec8 {
    SDK_File fileHeader;
    MovFile* movFile;                   // owned; null when no movie is open
    PrTime ticksPerFrame;               // host ticks per frame (nearest), set by imGetInfo8
    int64_t audioPosition;              // next sample frame for sequential audio requests
    prUTF16Char name[kRecordNameUnits]; // the path as the host gave it, terminated
    LargeFp* fileRef;                   // the open movie's handle (the movie owns it)
    PlugMemoryFuncs* memFuncs;
    int32_t importerID;
    SPBasicSuite* BasicSuite;
    PrSDKPPixCreatorSuite* PPixCreatorSuite;
    PrSDKPPixCacheSuite* PPixCacheSuite;
    PrSDKPPixSuite* PPixSuite;
    PrSDKTimeSuite* TimeSuite;
    PrSDKAudioSuite* AudioSuite;
};
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFull
static_assert(sizeof(ImporterLocalRec8) == kImporterRecordSize,
              "the host allocates and the preferences report 1216 bytes");
#endif
static_assert(sizeof(ImporterLocalRec8) <= kImporterRecordSize, "the record outgrew its handle");

// The record behind a host handle, or null for a null handle or an empty one.
inline ImporterLocalRec8* RecordOf(void* handle) {
    return handle ? *static_cast<ImporterLocalRec8**>(handle) : nullptr;
}

// A new zeroed record handle from the host's memory functions, or null.
PrMemoryHandle NewRecordHandle(imStdParms* stdParms);
// Acquires the five host suites into the record through its BasicSuite
// (each null when the host does not have it), and gives them back.
void AcquireRecordSuites(ImporterLocalRec8* rec);
void ReleaseRecordSuites(ImporterLocalRec8* rec);
