// Basic types shared by the importer and exporter sides of the host API.
//
// These are our own declarations of the part of the host's API that the
// plug-in uses: plain C structs with fixed-width fields and tables of function
// pointers. Plug-in code includes KEOHostAPI.h, never this file directly.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Host time: signed ticks whose rate only the Time Suite knows.
typedef int64_t PrTime;
// A count of audio sample frames.
typedef int64_t PrAudioSample;
// One UTF-16 code unit of a host path or name.
typedef uint16_t prUTF16Char;

// Host pixel formats are four-character values, first character in the low byte.
typedef uint32_t PrPixelFormat;
enum {
    PrPixelFormat_BGRA_4444_8u = 0x61726762,  // bytes B, G, R, A; 4 bytes per pixel
    PrPixelFormat_ARGB_4444_8u = 0x62677261,  // bytes A, R, G, B; 4 bytes per pixel
    PrPixelFormat_VUYA_4444_32f = 0x61795556, // floats V, U, Y, A; 16 bytes per pixel
};

// What a caller means to do with a frame's pixel memory.
typedef int32_t PrPPixBufferAccess;
enum {
    PrPPixBufferAccess_ReadOnly = 0,
    PrPPixBufferAccess_WriteOnly = 1,
    PrPPixBufferAccess_ReadWrite = 2,
};

// A frame's bounds; right and bottom are exclusive, so width = right - left.
// The coordinates are 16-bit, which caps a frame at 32767 pixels a side.
typedef struct prRect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
} prRect;

// A host frame. Its inside is the host's; the plug-in only passes the handle
// to the PPix suites.
typedef struct PPix PPix;
typedef PPix** PPixHand;

// Host memory: a pointer to a block, and a handle (a pointer to the host's
// pointer to a block, so the host may move the block while it is unlocked).
typedef char* PrMemoryPtr;
typedef char** PrMemoryHandle;

// The file reference an importer gives the host for an open file.
typedef void* imFileRef;
// The reference of a file that is not open (all bits set).
#define imInvalidFileRef ((imFileRef)(intptr_t)-1)

// Results of suite operations.
typedef int32_t prSuiteError;
enum {
    suiteError_NoError = 0,
    suiteError_Fail = -1,             // the operation failed for a reason not listed here
    suiteError_InvalidParms = -2,     // an argument is null, out of range or unknown
    suiteError_OutOfMemory = -3,      // the host could not allocate what was asked for
    suiteError_NotFound = -4,         // a suite, frame or parameter that the host does not have
    suiteError_RenderAbort = 0x30001, // the render was stopped; no frame was delivered
};

// Sample types of host audio (the Sequence Audio Suite and the importer's audInfo).
typedef int32_t PrAudioSampleType;
enum {
    kPrAudioSampleType_8BitInt = 1,
    kPrAudioSampleType_8BitTwosInt = 2,
    kPrAudioSampleType_16BitInt = 3,
    kPrAudioSampleType_24BitInt = 4,
    kPrAudioSampleType_32BitInt = 5,
    kPrAudioSampleType_32BitFloat = 6,
};

// Channel layouts of host audio.
typedef int32_t PrAudioChannelType;
enum {
    kPrAudioChannelType_Mono = 1,
    kPrAudioChannelType_Stereo = 2,
    kPrAudioChannelType_51 = 3, // six channels
};

// The frame-rate codes of the Time Suite's GetTicksPerVideoFrame.
typedef int32_t PrVideoFrameRate;
enum {
    PrVideoFrameRate_23_976 = 1, // 24000/1001
    PrVideoFrameRate_24 = 2,
    PrVideoFrameRate_25 = 3,
    PrVideoFrameRate_29_97 = 4, // 30000/1001
    PrVideoFrameRate_30 = 5,
    PrVideoFrameRate_50 = 6,
    PrVideoFrameRate_59_94 = 7, // 60000/1001
    PrVideoFrameRate_60 = 8,
};

// SPBasicSuite: hands out the host's other suites by name and version.
typedef int32_t SPErr;
enum {
    kSPNoError = 0,
    kSPSuiteNotFoundError = -4, // no suite of that name and version
    kSPBadParameterError = -2,  // a null name or result pointer
};
typedef struct SPBasicSuite {
    // Looks up the suite `name` at `version` and stores its function table in
    // *suite. Every successful call must be matched by one ReleaseSuite.
    SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
    // Gives back one acquisition of the suite `name` at `version`.
    SPErr (*ReleaseSuite)(const char* name, int32_t version);
    // Non-zero when the two zero-terminated strings are equal.
    int32_t (*IsEqual)(const char* token1, const char* token2);
} SPBasicSuite;

#ifdef __cplusplus
}
#endif
