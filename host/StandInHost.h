// The stand-in host: a small host that drives the plug-in in tests and in `keo`.
//
// It hands out the importer's imStdParms (memory functions and SPBasicSuite)
// and the exporter's export records, serves every suite the plug-in acquires,
// and keeps count of what it gave out so a driver can prove that every handle,
// pointer, suite, frame and renderer came back:
//
//   StandInHost* host = keo::host::createHost();
//   xImportEntry(imInit, keo::host::importerStdParms(host), &info, nullptr);
//   ...
//   EXPECT_EQ(keo::host::leakReport(host), "");
//   keo::host::destroyHost(host); // frees whatever is still out
//
// Host memory is filled with a non-zero pattern when handed out (0xA5 for
// handles and pointers, 0xCD for frame pixels, 0xEE for the row padding of
// rendered frames; frames can be left unpainted, see HostConfig), so a
// plug-in that relies on zeroed memory shows up.
//
// Frames are reference-counted. CreatePPix, GetFrameFromCache and
// RenderVideoFrame each hand the caller one reference, which the caller gives
// back with the PPix Suite's Dispose. AddFrameToCache makes the cache take a
// reference of its own, so the importer still disposes of nothing it returns
// to the host: the host (the driver) disposes of the frame that
// imGetSourceVideo handed it, and the cache's reference lives until
// clearFrameCache or destroyHost. A frame's memory is freed when the last
// reference goes. A Dispose beyond the references handed out is recorded as a
// violation.
//
// Several hosts may live in one process: the C tables have no context
// argument, so each host takes one of kMaxHosts slots, and the tables it hands
// out are bound to its slot. A table used after its host was destroyed fails
// harmlessly (null or an error result).
#pragma once

#include "KEOHostAPI.h"
#include "base/FrameRate.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keo::host {

struct StandInHost;

constexpr int kMaxHosts = 8;
// Ticks per second of the host clock; every standard frame rate and every
// common audio rate divides it.
constexpr PrTime kTicksPerSecond = keo::kStandInTicksPerSecond;

// Fills `rgba` with the picture of the sequence at `time`: width x height
// pixels of bytes R, G, B, A, rows width x 4 bytes apart, top row first.
// A non-zero result fails the render with suiteError_Fail and no frame.
using FrameSource = int (*)(void* context, PrTime time, int32_t width, int32_t height,
                            uint8_t* rgba);
// Lends the picture of the sequence at `time` where it already lies: width x
// height pixels of bytes R, G, B, A, top row first, rows *pitch bytes apart
// (at least width x 4). The host reads it during the render call only, so
// it is never copied before it becomes the frame. Null fails the render
// with suiteError_Fail and no frame.
using FrameLender = const uint8_t* (*)(void* context, PrTime time, int32_t width, int32_t height,
                                       size_t* pitch);

// Fills `frameCount` sample frames into `channels` float arrays, starting at
// sample frame `firstFrame` counted from sequence time 0 at the renderer's
// rate. A non-zero result becomes GetAudio's result.
using AudioSource = int (*)(void* context, int64_t firstFrame, uint32_t frameCount,
                            uint32_t channels, float** planar);

struct HostConfig {
    int32_t interfaceVersion = 6;           // imStdParms imInterfaceVer (5, or 6 and later)
    int32_t rowPaddingBytes = 16;           // row bytes = width x bytes per pixel + this
    uint32_t exporterPluginID = 0x4B454F31; // the exporterPluginID of export records
    uint64_t maxFrameBytes = 1ull << 30;    // larger frames fail with suiteError_OutOfMemory
    uint32_t maxBlockBytes = 1u << 30;      // larger handles and pointers are refused (null)
    // New frames' pixels are painted 0xCD so that a plug-in which leaves some
    // unwritten shows up. keo, whose plug-in the tests check with the paint
    // on, turns it off: painting a 1080p frame costs as much as copying it.
    // Off, the memory of frames given back also serves the next frames of
    // their size, as in a real host's frame pool.
    bool paintNewFrames = true;
};

// Direct access to the host's tables, for the driver's own use; unlike
// AcquireSuite it is not counted. memFuncs lives in the host and dies with
// it; the other tables stay valid (and fail harmlessly) after destroyHost.
struct HostSuites {
    SPBasicSuite* basic;
    PlugMemoryFuncs* memFuncs;
    PrSDKPPixCreatorSuite* ppixCreator;
    PrSDKPPixCacheSuite* ppixCache;
    PrSDKPPixSuite* ppix;
    PrSDKTimeSuite* time;
    PrSDKAudioSuite* audio;
    PrSDKExportParamSuite* exportParam;
    PrSDKSequenceRenderSuite* sequenceRender;
    PrSDKSequenceAudioSuite* sequenceAudio;
    PrSDKMemoryManagerSuite* memoryManager;
};

struct HostCounters {
    int64_t handlesCreated, handlesDisposed, handlesLive, handlesLocked;
    int64_t ptrsCreated, ptrsDisposed, ptrsLive;
    int64_t suitesAcquired, suitesReleased, suitesHeld, acquireFailures;
    int64_t framesCreated, framesFreed, framesLive, frameDisposeCalls;
    int64_t cacheHits, cacheMisses, cacheAdds, cacheEntries;
    int64_t paramReads;
    int64_t videoRenderersMade, videoRenderersReleased, renderCalls;
    int64_t audioRenderersMade, audioRenderersReleased, maxBlipCalls, getAudioCalls;
    int64_t violations;
};

// What the host knows about one of its frames.
struct FrameInfo {
    bool found;
    int32_t width, height, rowBytes;
    PrPixelFormat pixelFormat;
    int32_t callerRefs; // references handed out and not yet disposed
    int32_t cacheRefs;  // cache entries holding the frame
    uint8_t* pixels;    // bottom row first, rows rowBytes apart
};

// The last render request, copied.
struct RenderRequestLog {
    int64_t count;
    uint32_t videoRenderID;
    PrTime time;
    int32_t cacheFlags;
    SequenceRender_ParamsRec params; // inRequestedPixelFormatArray is not kept
    std::vector<PrPixelFormat> formats;
};

// The last audio renderer made.
struct AudioRendererLog {
    int64_t count;
    uint32_t pluginID;
    PrTime startTime;
    PrAudioChannelType channelType;
    PrAudioSampleType sampleType;
    float sampleRate;
    std::vector<uint32_t> blockSizes; // frame counts of the GetAudio calls, in order
};

// Null when all kMaxHosts slots are taken.
StandInHost* createHost(const HostConfig& config = HostConfig());
// Frees everything still given out; safe with null.
void destroyHost(StandInHost* host);

imStdParms* importerStdParms(StandInHost* host);
exportStdParms* exporterStdParms(StandInHost* host);
// An export record of this host's exporter id over [startTime, endTime).
exDoExportRec makeExportRec(StandInHost* host, void* privateData, PrTime startTime, PrTime endTime);
HostSuites hostSuites(StandInHost* host);

void setInterfaceVersion(StandInHost* host, int32_t version);
void setRowPadding(StandInHost* host, int32_t paddingBytes);
// Handles, pointers and frames still allowed; -1 (the default) is unlimited.
void setAllocationLimit(StandInHost* host, int64_t allocations);

// Export parameters; a setter adds the identifier when it is new. The nine
// known ones start as: ADBEVideoWidth 640, ADBEVideoHeight 480, ADBEVideoFPS
// the ticks of 30 frames per second, ADBEAudioRatePerSecond 48000.0,
// ADBEAudioNumChannels 2 (stereo), ADBEAudioSampleType 3 (16-bit),
// KEOTransparency 0, KEOOptimizeFor 0, KEOEncodeThreads 1.
void setParamInt(StandInHost* host, const char* identifier, int32_t value);
void setParamFloat(StandInHost* host, const char* identifier, double value);
void setParamTime(StandInHost* host, const char* identifier, PrTime value);

// The pictures renders are made of: drawn by a source into the host's own
// buffer, or lent by a lender. Setting one drops the other; with neither,
// every picture is black and transparent.
void setFrameSource(StandInHost* host, FrameSource source, void* context);
void setFrameLender(StandInHost* host, FrameLender lender, void* context);
// Makes every later RenderVideoFrame return `code` (0 restores success);
// with deliverFrame the frame is rendered and handed out all the same.
void setRenderResult(StandInHost* host, prSuiteError code, bool deliverFrame);
const RenderRequestLog& lastRenderRequest(StandInHost* host);

void setAudioSource(StandInHost* host, AudioSource source, void* context);
// Successive GetMaxBlip answers; the last one repeats. Empty (the default):
// the sample frames of one video frame, rounded up.
void setMaxBlips(StandInHost* host, const std::vector<int32_t>& blips);
// Makes GetAudio call number `callIndex` (0 is the first, counted over all
// renderers) return `code` without filling the buffers.
void setGetAudioFailure(StandInHost* host, int64_t callIndex, prSuiteError code);
const AudioRendererLog& lastAudioRenderer(StandInHost* host);

// Drops the cache's references; frames nobody else holds are freed.
void clearFrameCache(StandInHost* host);

// The importerID of a new importer instance: 1, 2, 3, ... on each host, as a
// host numbers the clips it opens, so the cache never serves one clip's
// frames for another's.
int32_t newImporterID(StandInHost* host);
// The instance is gone: its frames leave the cache (frames someone still
// holds stay until disposed of).
void forgetImporter(StandInHost* host, int32_t importerID);
FrameInfo describeFrame(StandInHost* host, PPixHand frame);

HostCounters counters(StandInHost* host);
// Acquisitions of one suite not yet released.
int64_t suiteHeld(StandInHost* host, const char* name, int32_t version);
// The last kSuiteCallsKept successful acquisitions and releases in order, as
// "acquire <name> <version>" and "release <name> <version>", so a test can
// check their order; older ones are let go, so a long-lived host does not
// grow with every file it opens.
constexpr size_t kSuiteCallsKept = 64;
std::vector<std::string> suiteCalls(StandInHost* host);
// Misuse seen so far (wrong order, unknown handles, double disposal, ...).
std::vector<std::string> violations(StandInHost* host);
// One line per thing not given back and per violation; empty when clean.
// Frames held only by the cache are the host's own and are not listed.
std::string leakReport(StandInHost* host);

} // namespace keo::host
