// The host suites that the export render functions use.
//
// Besides these, the export side uses the PPix, Time and Audio suites of
// ImporterSuites.h. Each table is acquired through SPBasicSuite by the name
// and version beside it.
#pragma once

#include "ExporterAPI.h"
#include "ImporterSuites.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kPrSDKExportParamSuite "Premiere Export Param Suite"
#define kPrSDKExportParamSuiteVersion 1
#define kPrSDKSequenceRenderSuite "Premiere Sequence Render Suite"
#define kPrSDKSequenceRenderSuiteVersion 1
#define kPrSDKSequenceAudioSuite "Premiere Sequence Audio Suite"
#define kPrSDKSequenceAudioSuiteVersion 1
#define kPrSDKMemoryManagerSuite "Premiere Memory Manager Suite"
#define kPrSDKMemoryManagerSuiteVersion 1

typedef struct PrSDKExportParamSuite {
    // The current value of the parameter `identifier` in group `groupIndex`
    // (0 for every parameter the render functions read) of exporter `exporterID`.
    prSuiteError (*GetParamValue)(uint32_t exporterID, int32_t groupIndex,
                                  exParamIdentifier identifier, exParamValues* value);
} PrSDKExportParamSuite;

// What a video render is asked for.
typedef struct SequenceRender_ParamsRec {
    const PrPixelFormat* inRequestedPixelFormatArray; // acceptable formats, best first
    int32_t inRequestedPixelFormatArrayCount;
    int32_t inWidth;
    int32_t inHeight;
    int32_t inPixelAspectRatioNumerator;
    int32_t inPixelAspectRatioDenominator;
    int32_t inRenderQuality;      // 0 (draft) to 3 (highest)
    int32_t inFieldType;          // 0: progressive
    int32_t inDeinterlace;        // non-zero: deinterlace
    int32_t inDeinterlaceQuality; // 0 to 3
    int32_t inCompositeOnBlack;   // non-zero: composite onto opaque black
} SequenceRender_ParamsRec;

// What a video render delivers.
typedef struct SequenceRender_GetFrameReturnRec {
    void* asyncCompletionData;
    int32_t returnVal;
    int32_t repeatCount;
    int32_t onMarker;
    PPixHand outFrame; // the rendered frame, or null; the caller disposes of it
} SequenceRender_GetFrameReturnRec;

typedef struct PrSDKSequenceRenderSuite {
    // A video renderer for exporter `pluginID`, its id in *outVideoRenderID.
    prSuiteError (*MakeVideoRenderer)(uint32_t pluginID, uint32_t* outVideoRenderID,
                                      PrTime inFrameRate);
    // Gives back a renderer from MakeVideoRenderer.
    prSuiteError (*ReleaseVideoRenderer)(uint32_t pluginID, uint32_t inVideoRenderID);
    // Renders the sequence at inTime into a frame of one requested format,
    // bottom row first. inCacheFlags is 0.
    prSuiteError (*RenderVideoFrame)(uint32_t inVideoRenderID, PrTime inTime,
                                     const SequenceRender_ParamsRec* inRenderParams,
                                     int32_t inCacheFlags,
                                     SequenceRender_GetFrameReturnRec* getFrameReturn);
} PrSDKSequenceRenderSuite;

typedef struct PrSDKSequenceAudioSuite {
    // An audio renderer from inStartTime on, id in *outAudioRenderID.
    // inSampleType is kPrAudioSampleType_32BitFloat.
    prSuiteError (*MakeAudioRenderer)(uint32_t pluginID, PrTime inStartTime,
                                      PrAudioChannelType inChannelType,
                                      PrAudioSampleType inSampleType, float inSampleRate,
                                      uint32_t* outAudioRenderID);
    // Gives back a renderer from MakeAudioRenderer.
    prSuiteError (*ReleaseAudioRenderer)(uint32_t pluginID, uint32_t inAudioRenderID);
    // The next inFrameCount sample frames into one float array per channel;
    // inFrameCount must not exceed the last GetMaxBlip answer.
    prSuiteError (*GetAudio)(uint32_t inAudioRenderID, uint32_t inFrameCount, float** inBuffer,
                             char inClipAudio);
    // The largest block GetAudio accepts now; it may change between calls.
    prSuiteError (*GetMaxBlip)(uint32_t inAudioRenderID, PrTime inTicksPerFrame,
                               int32_t* outMaxBlipSize);
} PrSDKSequenceAudioSuite;

typedef struct PrSDKMemoryManagerSuite {
    // A new block of `byteCount` bytes, contents undefined; null when out of memory.
    PrMemoryPtr (*NewPtr)(uint32_t byteCount);
    // Gives a block from NewPtr back.
    void (*PrDisposePtr)(PrMemoryPtr ptr);
} PrSDKMemoryManagerSuite;

#ifdef __cplusplus
}
#endif
