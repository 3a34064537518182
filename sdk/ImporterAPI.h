// The importer side of the host API: selectors, result codes and records.
//
// The host calls the importer's one entry with a selector and two parameters
// whose record types the selector fixes; the entry answers with one of the
// result codes below. Field names are the API's own; where the API leaves a
// layout open these are plain C structs with fixed-width fields.
#pragma once

#include "HostTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

// Selectors, by their numeric value.
enum {
    imInit = 0,
    imQuietFile = 8,
    imCloseFile = 9,
    imGetIndFormat = 14,
    imImportAudio7 = 25,
    imGetIndPixelFormat = 27,
    imGetSupports8 = 36,
    imGetInfo8 = 37,
    imGetPrefs8 = 38,
    imOpenFile8 = 39,
    imSaveFile8 = 40,
    imDeleteFile8 = 41,
    imGetPreferredFrameSize = 45,
    imGetSourceVideo = 47,
};

// Results of the importer entry.
enum {
    malNoError = 0,
    imBadFile = 2,
    imUnsupported = 3,
    imOtherErr = 5,
    imSaveErr = 14,
    imDeleteErr = 15,
    imFrameOrAudioErr = 99, // the plug-in's own failure of a frame or audio request
    imIsVersion8 = 101,     // imGetSupports8: the importer speaks the version-8 selectors
    imBadFormatIndex = 301, // imGetIndFormat / imGetIndPixelFormat: no format at this index
    imIsCacheable = 400,    // imInit: the importer may be kept cached
};

// The host's memory functions. Sizes are in bytes.
typedef struct PlugMemoryFuncs {
    // A new block of `size` bytes, contents undefined; null when out of memory.
    PrMemoryPtr (*newPtr)(uint32_t size);
    // Resizes the block of `ptr`; its first min(old, new) bytes are kept.
    void (*setPtrSize)(PrMemoryPtr* ptr, uint32_t newSize);
    // The size of a block from newPtr.
    uint32_t (*getPtrSize)(PrMemoryPtr ptr);
    // Gives a block from newPtr back.
    void (*disposePtr)(PrMemoryPtr ptr);
    // A new handle to a block of `size` bytes, contents undefined; null when out of memory.
    PrMemoryHandle (*newHandle)(uint32_t size);
    // Resizes a handle's block (which may move); 0 on success.
    int32_t (*setHandleSize)(PrMemoryHandle h, uint32_t newSize);
    // The size of a handle's block.
    uint32_t (*getHandleSize)(PrMemoryHandle h);
    // Gives a handle and its block back.
    void (*disposeHandle)(PrMemoryHandle h);
    // Pins the block so *h stays valid; calls nest and pair with unlockHandle.
    void (*lockHandle)(PrMemoryHandle h);
    // Ends one lockHandle.
    void (*unlockHandle)(PrMemoryHandle h);
} PlugMemoryFuncs;

// Host utility functions.
typedef struct PlugUtilFuncs {
    // The host's SPBasicSuite, through which every other suite is acquired.
    SPBasicSuite* (*getSPBasicSuite)(void);
} PlugUtilFuncs;

typedef struct piSuites {
    int32_t piInterfaceVer;
    PlugMemoryFuncs* memFuncs;
    PlugUtilFuncs* utilFuncs;
} piSuites;

// Passed with every selector.
typedef struct imStdParms {
    int32_t imInterfaceVer; // the host's importer interface version (5, 6, ...)
    piSuites* piSuites;
} imStdParms;

// imInit, param1: the importer's capabilities, written by the importer.
typedef struct imImportInfoRec {
    int8_t canSave;           // can copy or move its files (imSaveFile8)
    int8_t canDelete;         // can delete its files (imDeleteFile8)
    int8_t canCalcSizes;      // can report trimmed sizes
    int8_t canTrim;           // can trim its files
    int8_t hasSetup;          // has a setup dialog
    int8_t setupOnDblClk;     // opens setup on a double click
    int8_t dontCache;         // the host must not keep the importer cached
    int8_t keepLoaded;        // the host must keep the module loaded
    int8_t avoidAudioConform; // the host may use the audio as delivered (version 6+)
    int32_t priority;         // precedence over other importers of the same type
} imImportInfoRec;

enum {
    imFormatNameSize = 256,
    imFormatShortNameSize = 32,
    imPlatformExtensionSize = 256,
};

// imGetIndFormat, param2: one file format the importer reads.
typedef struct imIndFormatRec {
    uint32_t filetype; // four-character code, first character in the high byte
    int32_t flags;
    int32_t canWriteTimecode;
    char FormatName[imFormatNameSize];               // zero-terminated
    char FormatShortName[imFormatShortNameSize];     // zero-terminated
    char PlatformExtension[imPlatformExtensionSize]; // zero-terminated extensions
} imIndFormatRec;

// imGetIndPixelFormat, param2.
typedef struct imIndPixelFormatRec {
    PrPixelFormat outPixelFormat;
} imIndPixelFormatRec;

// imGetInfo8 and imGetPrefs8, param1: the file being asked about.
typedef struct imFileAccessRec8 {
    int32_t importerID;
    uint32_t filetype;
    const prUTF16Char* filepath; // zero-terminated; may be null
    imFileRef fileref;
} imFileAccessRec8;

// imGetPrefs8, param2.
typedef struct imGetPrefsRec {
    char* prefs;         // the host's block of prefsLength bytes (null on the first call)
    int32_t prefsLength; // 0 on the first call; the importer writes the size it needs
    int8_t firstTime;
} imGetPrefsRec;

// imSaveFile8, param1.
typedef struct imSaveFileRec8 {
    void* privatedata;
    const prUTF16Char* sourcePath; // zero-terminated
    const prUTF16Char* destPath;   // zero-terminated
    int8_t move;
} imSaveFileRec8;

// imDeleteFile8, param1.
typedef struct imDeleteFileRec {
    uint32_t filetype;
    const prUTF16Char* deleteFilePath; // zero-terminated
} imDeleteFileRec;

// imGetPreferredFrameSize, param1.
typedef struct imPreferredFrameSizeRec {
    void* inPrivateData; // the per-file record handle
    int32_t inIndex;     // which preferred size; 0 is the first
    int32_t outWidth;
    int32_t outHeight;
} imPreferredFrameSizeRec;

// The video part of imFileInfoRec8.
typedef struct imImageInfoRec {
    int32_t importerID;
    int32_t imageWidth;
    int32_t imageHeight;
    int32_t pixelAspectNum;
    int32_t pixelAspectDen;
    int16_t depth;     // bits per pixel of the stored video
    int32_t fieldType; // 0: progressive
    int32_t alphaType; // 0: none; 1: straight alpha
    int8_t supportsAsyncIO;
    int8_t supportsGetSourceVideo;
    int8_t hasPulldown;
} imImageInfoRec;

// The audio part of imFileInfoRec8.
typedef struct imAudioInfoRec7 {
    int32_t numChannels;
    float sampleRate;
    PrAudioSampleType sampleType;
} imAudioInfoRec7;

// imGetInfo8, param2: the description of a file, written by the importer.
typedef struct imFileInfoRec8 {
    int8_t hasVideo;
    int8_t hasAudio;
    int8_t hasDataRate;
    imImageInfoRec vidInfo;
    int32_t vidScale; // frames per second = vidScale / vidSampleSize
    int32_t vidSampleSize;
    int32_t vidDuration; // in units of 1 / vidScale seconds
    imAudioInfoRec7 audInfo;
    PrAudioSample audDuration; // in sample frames
    int32_t accessModes;
    void* privatedata; // the per-file record handle
} imFileInfoRec8;

// imOpenFile8, param2.
typedef struct imFileOpenRec8 {
    imFileAccessRec8 fileinfo;
    void* privatedata; // the per-file record handle; null until the importer makes one
    int32_t inReadWrite;
} imFileOpenRec8;

// The format of a requested frame.
typedef struct imFrameFormat {
    int32_t inFrameWidth; // 0 with inFrameHeight 0: the file's own size
    int32_t inFrameHeight;
    PrPixelFormat inPixelFormat;
} imFrameFormat;

// imGetSourceVideo, param2.
typedef struct imSourceVideoRec {
    void* inPrivateData;          // the per-file record handle
    PrTime inFrameTime;           // in host ticks
    imFrameFormat* inFrameFormat; // the one wanted format
    PPixHand* outFrame;           // receives the frame; the host disposes of it
} imSourceVideoRec;

// imImportAudio7, param2.
typedef struct imImportAudioRec7 {
    void* privateData;      // the per-file record handle
    PrAudioSample position; // first sample frame; negative: continue after the last request
    uint32_t size;          // sample frames wanted
    float** buffer;         // one host-owned array of `size` floats per channel
} imImportAudioRec7;

// The destination of a still-image import: dstWidth x dstHeight pixels of 4
// bytes, rows rowbytes apart. No selector of ours passes it; the plug-in's
// scaling utility writes into one.
typedef struct imImportImageRec {
    void* privatedata;
    int32_t dstWidth;
    int32_t dstHeight;
    int32_t rowbytes;
    char* pix;
} imImportImageRec;

// The importer's one exported entry.
typedef int32_t (*ImportEntryFunc)(int32_t selector, imStdParms* stdParms, void* param1,
                                   void* param2);

#ifdef __cplusplus
}
#endif
