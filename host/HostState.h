// The stand-in host's inner state and the operations behind its C tables.
//
// Every operation takes the host first; the slot tables of HostSlots.cpp bind
// it. Each operation copes with a null host (its slot was given up) by
// failing, and takes the host's lock, so a plug-in may call from any thread.
#pragma once

#include "StandInHost.h"
#include "base/PictureMemory.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

// An allocator whose construction without a value leaves the memory as it
// is, so that sizing a frame's pixels does not write them, and whose
// picture-sized blocks are in huge pages (base/PictureMemory.h).
template <typename T> struct UnpaintedAllocator : std::allocator<T> {
    template <typename U> struct rebind { using other = UnpaintedAllocator<U>; };
    UnpaintedAllocator() = default;
    template <typename U> UnpaintedAllocator(const UnpaintedAllocator<U>&) {}
    T* allocate(size_t n) {
        void* memory =
            n <= SIZE_MAX / sizeof(T) ? keo::allocatePictureMemory(n * sizeof(T)) : nullptr;
        if (!memory)
            throw std::bad_alloc();
        return static_cast<T*>(memory);
    }
    void deallocate(T* p, size_t) { std::free(p); }
    template <typename U> void construct(U* p) { ::new (static_cast<void*>(p)) U; }
    template <typename U, typename... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using FramePixels = std::vector<uint8_t, UnpaintedAllocator<uint8_t>>;

// The host's own definition of the frame that plug-ins only see as PPixHand.
// The handle is &master, which points at the record itself.
struct PPix {
    PPix* master;
    int32_t width;
    int32_t height;
    int32_t rowBytes;
    PrPixelFormat pixelFormat;
    PrPPixBufferAccess access;
    int32_t callerRefs;
    int32_t cacheRefs;
    bool rendered; // made by RenderVideoFrame, whose next call may reuse it
    FramePixels pixels;
};

namespace keo::host {

// A memory handle: the handle is &block, so *handle is the block.
struct HandleRec {
    char* block;
    uint32_t size;
    int32_t locks;
};

struct VideoRenderer {
    uint32_t pluginID;
};

struct AudioRenderer {
    uint32_t pluginID;
    int32_t channels;
    PrTime ticksPerSample;
    int64_t nextFrame; // absolute sample frame of the next GetAudio
    int64_t maxBlip;   // last GetMaxBlip answer; -1 before the first
    int64_t blipCalls;
};

using CacheKey = std::tuple<int32_t, int32_t, PrTime>; // importer id, stream, key

struct BoundTables; // the slot's function tables (HostSlots.cpp)

struct StandInHost {
    int slot;
    HostConfig config;
    std::recursive_mutex mutex;
    BoundTables* tables;

    imStdParms stdParms;
    piSuites suites;
    PlugMemoryFuncs memFuncs;
    PlugUtilFuncs utilFuncs;
    exportStdParms exportParms;

    int64_t allocationsLeft; // -1: unlimited
    std::unordered_map<PrMemoryHandle, HandleRec*> handles;
    std::unordered_map<PrMemoryPtr, uint32_t> ptrs;
    std::map<std::pair<std::string, int32_t>, int64_t> held;
    std::deque<std::string> suiteCalls; // the last kSuiteCallsKept
    int32_t lastImporterID;
    std::unordered_map<PPixHand, PPix*> frames;
    // The last rendered frame given back, kept for the next render: an
    // export renders one frame of one size after another, and a new frame
    // each time would cost its allocation and page faults.
    PPix* spareRendered;
    // The pixels of frames given back, kept for the next frames of their
    // size by a host that does not paint new frames (keo's), as a real
    // host's frame pool keeps them: fresh picture memory costs the kernel a
    // cleared page for every page, a quarter of a 1080p frame's decode. A
    // painting host (the tests') gives every frame fresh memory, so that a
    // plug-in writing into a frame it gave back is caught.
    std::vector<FramePixels> sparePixels;
    std::map<CacheKey, PPix*> cache;
    std::map<std::string, exParamValues> params;

    FrameSource frameSource;
    FrameLender frameLender;
    void* frameContext;
    std::vector<uint8_t, UnpaintedAllocator<uint8_t>> picture; // what frameSource draws into
    prSuiteError renderResult;
    bool renderDelivers;
    uint32_t nextVideoRenderID;
    std::map<uint32_t, VideoRenderer> videoRenderers;
    RenderRequestLog renderLog;

    AudioSource audioSource;
    void* audioContext;
    std::vector<int32_t> maxBlips;
    int64_t audioFailIndex;
    prSuiteError audioFailCode;
    uint32_t nextAudioRenderID;
    std::map<uint32_t, AudioRenderer> audioRenderers;
    AudioRendererLog audioLog;

    HostCounters count;
    std::vector<std::string> violations;
};

using Lock = std::lock_guard<std::recursive_mutex>;

void recordViolation(StandInHost* host, const std::string& what);

// Files a new renderer under the next free id, counts it, and hands the id
// out. Ids are never reused, so a stale one cannot reach a later renderer.
template <typename Renderers, typename Renderer>
prSuiteError addRenderer(Renderers& renderers, uint32_t& nextID, const Renderer& renderer,
                         int64_t& made, uint32_t* outID) {
    const uint32_t id = nextID++;
    renderers[id] = renderer;
    made++;
    *outID = id;
    return suiteError_NoError;
}

// Takes renderer `id` out of `renderers` for the plug-in that made it and
// counts the release. One that was never made, was made by another plug-in
// or is already gone is the plug-in's fault: a violation named `kind`.
template <typename Renderers>
prSuiteError releaseRenderer(StandInHost* host, Renderers& renderers, uint32_t pluginID,
                             uint32_t id, const char* kind, int64_t& released) {
    auto it = renderers.find(id);
    if (it == renderers.end() || it->second.pluginID != pluginID) {
        recordViolation(host, std::string("Release") + kind +
                                  " of a renderer not made (or released twice)");
        return suiteError_InvalidParms;
    }
    renderers.erase(it);
    released++;
    return suiteError_NoError;
}
// Takes one from the allocation limit; false when it is used up.
bool allowAllocation(StandInHost* host);

// Slots (HostSlots.cpp).
int claimSlot(StandInHost* host);
void releaseSlot(int slot);
BoundTables* boundTables(int slot);
void wireTables(StandInHost* host);
HostSuites tableSuites(StandInHost* host);

// Memory functions and the Memory Manager Suite (HostMemory.cpp).
PrMemoryPtr memNewPtr(StandInHost* host, uint32_t size);
void memSetPtrSize(StandInHost* host, PrMemoryPtr* ptr, uint32_t size);
uint32_t memGetPtrSize(StandInHost* host, PrMemoryPtr ptr);
void memDisposePtr(StandInHost* host, PrMemoryPtr ptr);
PrMemoryHandle memNewHandle(StandInHost* host, uint32_t size);
int32_t memSetHandleSize(StandInHost* host, PrMemoryHandle h, uint32_t size);
uint32_t memGetHandleSize(StandInHost* host, PrMemoryHandle h);
void memDisposeHandle(StandInHost* host, PrMemoryHandle h);
void memLockHandle(StandInHost* host, PrMemoryHandle h);
void memUnlockHandle(StandInHost* host, PrMemoryHandle h);
void freeAllMemory(StandInHost* host);

// SPBasicSuite (HostBasicSuite.cpp).
SPErr basicAcquireSuite(StandInHost* host, const char* name, int32_t version, const void** suite);
SPErr basicReleaseSuite(StandInHost* host, const char* name, int32_t version);
int32_t basicIsEqual(const char* a, const char* b);

// Frames (HostFrames.cpp) and the frame cache (HostFrameCache.cpp).
prSuiteError ppixCreate(StandInHost* host, PPixHand* out, PrPPixBufferAccess access,
                        PrPixelFormat format, const prRect* bounds);
// A new frame with one caller reference, or null (out of memory, bad size).
PPix* newFrame(StandInHost* host, int32_t width, int32_t height, PrPixelFormat format,
               PrPPixBufferAccess access, uint8_t fill, prSuiteError* error);
// The same for RenderVideoFrame's read-only frames: the spare one when it
// has the size and row bytes asked for, else a new one.
PPix* newRenderedFrame(StandInHost* host, int32_t width, int32_t height, PrPixelFormat format,
                       uint8_t fill, prSuiteError* error);
// Frees the frame when nothing holds it any more.
void releaseIfUnheld(StandInHost* host, PPix* frame);
PPix* findFrame(StandInHost* host, PPixHand h);
int32_t bytesPerPixel(PrPixelFormat format);
prSuiteError ppixDispose(StandInHost* host, PPixHand h);
prSuiteError ppixGetPixels(StandInHost* host, PPixHand h, PrPPixBufferAccess access, char** out);
prSuiteError ppixGetBounds(StandInHost* host, PPixHand h, prRect* out);
prSuiteError ppixGetRowBytes(StandInHost* host, PPixHand h, int32_t* out);
prSuiteError ppixGetPixelAspectRatio(StandInHost* host, PPixHand h, uint32_t* num, uint32_t* den);
prSuiteError ppixGetPixelFormat(StandInHost* host, PPixHand h, PrPixelFormat* out);
void freeAllFrames(StandInHost* host);
prSuiteError cacheGetFrame(StandInHost* host, int32_t importerID, int32_t stream, PrTime key,
                           int32_t numFormats, const imFrameFormat* formats, PPixHand* out,
                           const void* prefs, const void* reserved);
prSuiteError cacheAddFrame(StandInHost* host, int32_t importerID, int32_t stream, PPixHand frame,
                           PrTime key, const void* prefs, int32_t prefsLength);
void dropCache(StandInHost* host);
// Drops the cache's entries of one importer instance.
void dropImporterFrames(StandInHost* host, int32_t importerID);

// Stateless suites (HostTimeSuite.cpp, HostAudioSuite.cpp).
PrSDKTimeSuite* timeSuiteTable();
PrSDKAudioSuite* audioSuiteTable();
prSuiteError ticksPerAudioSample(float sampleRate, PrTime* out);

// Exporter side (HostExportParams.cpp, HostSequenceRender.cpp, HostSequenceAudio.cpp).
void setDefaultParams(StandInHost* host);
prSuiteError paramGetValue(StandInHost* host, uint32_t exporterID, int32_t groupIndex,
                           exParamIdentifier identifier, exParamValues* value);
prSuiteError renderMakeVideoRenderer(StandInHost* host, uint32_t pluginID, uint32_t* outID,
                                     PrTime frameRate);
prSuiteError renderReleaseVideoRenderer(StandInHost* host, uint32_t pluginID, uint32_t id);
prSuiteError renderVideoFrame(StandInHost* host, uint32_t id, PrTime time,
                              const SequenceRender_ParamsRec* params, int32_t cacheFlags,
                              SequenceRender_GetFrameReturnRec* result);
prSuiteError audioMakeRenderer(StandInHost* host, uint32_t pluginID, PrTime startTime,
                               PrAudioChannelType channelType, PrAudioSampleType sampleType,
                               float sampleRate, uint32_t* outID);
prSuiteError audioReleaseRenderer(StandInHost* host, uint32_t pluginID, uint32_t id);
prSuiteError audioGetAudio(StandInHost* host, uint32_t id, uint32_t frameCount, float** buffers,
                           char clip);
prSuiteError audioGetMaxBlip(StandInHost* host, uint32_t id, PrTime ticksPerFrame,
                             int32_t* outMaxBlip);

} // namespace keo::host
