// The host suites that the importer acquires through SPBasicSuite.
//
// Each suite is a table of function pointers, acquired by the name and
// version given beside it and released with the same pair. Every operation
// returns suiteError_NoError (0) on success.
#pragma once

#include "ImporterAPI.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kPrSDKPPixCreatorSuite "Premiere PPix Creator Suite"
#define kPrSDKPPixCreatorSuiteVersion 1
#define kPrSDKPPixCacheSuite "Premiere PPix Cache Suite"
#define kPrSDKPPixCacheSuiteVersion 8
#define kPrSDKPPixSuite "Premiere PPix Suite"
#define kPrSDKPPixSuiteVersion 1
#define kPrSDKTimeSuite "Premiere Time Suite"
#define kPrSDKTimeSuiteVersion 1
#define kPrSDKAudioSuite "Premiere Audio Suite"
#define kPrSDKAudioSuiteVersion 1

typedef struct PrSDKPPixCreatorSuite {
    // A new frame of the bounds' size and the pixel format, stored in
    // *outPPixHand. The caller owns one reference and gives it back with the
    // PPix Suite's Dispose.
    prSuiteError (*CreatePPix)(PPixHand* outPPixHand, PrPPixBufferAccess inRequestedAccess,
                               PrPixelFormat inPixelFormat, const prRect* inBoundingRect);
} PrSDKPPixCreatorSuite;

typedef struct PrSDKPPixCacheSuite {
    // Looks up the frame cached under (inImporterID, inStreamIndex, inFrameTime)
    // in one of the inNumFormats formats. Returns 0 and a new reference in
    // *outFrame on a hit (the caller disposes of it), non-zero on a miss.
    // inPreferences and inReserved are passed as null.
    prSuiteError (*GetFrameFromCache)(int32_t inImporterID, int32_t inStreamIndex,
                                      PrTime inFrameTime, int32_t inNumFormats,
                                      const imFrameFormat* inFormats, PPixHand* outFrame,
                                      const void* inPreferences, const void* inReserved);
    // Keeps a reference to inFrame under (inImporterID, inStreamIndex,
    // inFrameTime), replacing what was cached there. The caller's own
    // reference is unaffected. inPreferences is null, inPreferencesLength 0.
    prSuiteError (*AddFrameToCache)(int32_t inImporterID, int32_t inStreamIndex, PPixHand inFrame,
                                    PrTime inFrameTime, const void* inPreferences,
                                    int32_t inPreferencesLength);
} PrSDKPPixCacheSuite;

typedef struct PrSDKPPixSuite {
    // Gives back one reference to the frame; the last one frees it.
    prSuiteError (*Dispose)(PPixHand inPPixHand);
    // The frame's pixel memory: rows GetRowBytes apart, bottom row first.
    prSuiteError (*GetPixels)(PPixHand inPPixHand, PrPPixBufferAccess inRequestedAccess,
                              char** outPixelAddress);
    // The frame's bounds.
    prSuiteError (*GetBounds)(PPixHand inPPixHand, prRect* outBounds);
    // Bytes from the start of one row to the next (at least width x bytes per pixel).
    prSuiteError (*GetRowBytes)(PPixHand inPPixHand, int32_t* outRowBytes);
    // The pixel aspect ratio as a fraction.
    prSuiteError (*GetPixelAspectRatio)(PPixHand inPPixHand, uint32_t* outNumerator,
                                        uint32_t* outDenominator);
    // The frame's pixel format.
    prSuiteError (*GetPixelFormat)(PPixHand inPPixHand, PrPixelFormat* outPixelFormat);
} PrSDKPPixSuite;

typedef struct PrSDKTimeSuite {
    // Host ticks per second.
    prSuiteError (*GetTicksPerSecond)(PrTime* outTicksPerSec);
    // Exact ticks per frame of a standard rate (PrVideoFrameRate code 1 to 8).
    prSuiteError (*GetTicksPerVideoFrame)(PrVideoFrameRate inVideoFrameRate,
                                          PrTime* outTicksPerFrame);
    // Exact ticks per sample frame at inSampleRate; an error when the rate
    // does not divide the ticks per second.
    prSuiteError (*GetTicksPerAudioSample)(float inSampleRate, PrTime* outTicksPerSample);
} PrSDKTimeSuite;

// Conversions between interleaved signed integers in machine byte order
// (24-bit samples take 3 bytes) and one float array per channel, with full
// scale at +/-1.0.
typedef struct PrSDKAudioSuite {
    prSuiteError (*UninterleaveAndConvertFrom8BitInteger)(char* inSource, float** outDestination,
                                                          uint32_t inNumChannels,
                                                          uint32_t inNumSampleFrames);
    prSuiteError (*UninterleaveAndConvertFrom16BitInteger)(char* inSource, float** outDestination,
                                                           uint32_t inNumChannels,
                                                           uint32_t inNumSampleFrames);
    prSuiteError (*UninterleaveAndConvertFrom24BitInteger)(char* inSource, float** outDestination,
                                                           uint32_t inNumChannels,
                                                           uint32_t inNumSampleFrames);
    prSuiteError (*UninterleaveAndConvertFrom32BitInteger)(char* inSource, float** outDestination,
                                                           uint32_t inNumChannels,
                                                           uint32_t inNumSampleFrames);
    prSuiteError (*ConvertAndInterleaveTo8BitInteger)(float** inSource, char* outDestination,
                                                      uint32_t inNumChannels,
                                                      uint32_t inNumSampleFrames);
    prSuiteError (*ConvertAndInterleaveTo16BitInteger)(float** inSource, char* outDestination,
                                                       uint32_t inNumChannels,
                                                       uint32_t inNumSampleFrames);
    prSuiteError (*ConvertAndInterleaveTo24BitInteger)(float** inSource, char* outDestination,
                                                       uint32_t inNumChannels,
                                                       uint32_t inNumSampleFrames);
    prSuiteError (*ConvertAndInterleaveTo32BitInteger)(float** inSource, char* outDestination,
                                                       uint32_t inNumChannels,
                                                       uint32_t inNumSampleFrames);
} PrSDKAudioSuite;

#ifdef __cplusplus
}
#endif
