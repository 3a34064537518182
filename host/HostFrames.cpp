// Host frames: the PPix Creator Suite, the PPix Suite and frame lifetimes.
//
// Rows are width x bytes per pixel plus the configured padding apart, so a
// plug-in that assumes packed rows writes visibly wrong pictures. New pixel
// memory is filled with 0xCD, unless the host's paintNewFrames is off (and then the memory of
// frames given back is used again). Frames are reference-counted (see StandInHost.h); every
// operation first looks the handle up, so a stale or foreign handle is reported instead of
// followed.
#include "HostState.h"

#include <cstring>

namespace keo::host {
namespace {

constexpr uint8_t kFramePixelFill = 0xCD;
constexpr int32_t kMaxSide = 32767; // prRect coordinates are 16-bit
// Enough for a frame being decoded, one read ahead and one the caller
// still holds.
constexpr size_t kSpareFrames = 3;

bool knownFormat(PrPixelFormat format) {
    return format == PrPixelFormat_ARGB_4444_8u || format == PrPixelFormat_BGRA_4444_8u ||
           format == PrPixelFormat_VUYA_4444_32f;
}

PPix* lookUpOrReport(StandInHost* host, PPixHand h, const char* op) {
    PPix* frame = findFrame(host, h);
    if (!frame)
        recordViolation(host, std::string(op) + " on a frame the host does not have");
    return frame;
}

// The shape of every PPix Suite query: look the frame up under the lock,
// then let `answer` fill in the caller's outputs (`haveOutputs` says they
// are all there).
template <typename Answer>
prSuiteError queryFrame(StandInHost* host, PPixHand h, const char* op, bool haveOutputs,
                        Answer answer) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    PPix* frame = lookUpOrReport(host, h, op);
    if (!frame || !haveOutputs)
        return suiteError_InvalidParms;
    answer(*frame);
    return suiteError_NoError;
}

// Pixels of `total` bytes given back earlier, the latest first (they may
// still be in cache), if the host keeps any.
void takeSparePixels(StandInHost* host, uint64_t total, FramePixels* pixels) {
    auto& spares = host->sparePixels;
    for (auto it = spares.rbegin(); it != spares.rend(); ++it)
        if (it->size() == total) {
            pixels->swap(*it);
            spares.erase(std::next(it).base());
            return;
        }
}

} // namespace

int32_t bytesPerPixel(PrPixelFormat format) {
    return format == PrPixelFormat_VUYA_4444_32f ? 16 : 4;
}

PPix* findFrame(StandInHost* host, PPixHand h) {
    auto it = host->frames.find(h);
    return it == host->frames.end() ? nullptr : it->second;
}

// Makes `frame` (new, or a spare whose pixels have the size) a frame of the
// host with one caller reference; null, deleting it, when it cannot be.
PPix* handOut(StandInHost* host, PPix* frame, int32_t width, int32_t height, PrPixelFormat format,
              PrPPixBufferAccess access, uint8_t fill, prSuiteError* error) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || !knownFormat(format)) {
        delete frame;
        *error = suiteError_InvalidParms;
        return nullptr;
    }
    uint64_t rowBytes = static_cast<uint64_t>(width) * bytesPerPixel(format) +
                        static_cast<uint64_t>(host->config.rowPaddingBytes);
    uint64_t total = rowBytes * static_cast<uint64_t>(height);
    if (rowBytes > INT32_MAX || total > host->config.maxFrameBytes || !allowAllocation(host)) {
        delete frame;
        *error = suiteError_OutOfMemory;
        return nullptr;
    }
    frame->master = frame;
    frame->width = width;
    frame->height = height;
    frame->rowBytes = static_cast<int32_t>(rowBytes);
    frame->pixelFormat = format;
    frame->access = access;
    frame->callerRefs = 1;
    frame->cacheRefs = 0;
    if (frame->pixels.empty())
        takeSparePixels(host, total, &frame->pixels);
    frame->pixels.resize(total);
    if (host->config.paintNewFrames)
        std::memset(frame->pixels.data(), fill, total);
    host->frames[&frame->master] = frame;
    host->count.framesCreated++;
    *error = suiteError_NoError;
    return frame;
}

PPix* newFrame(StandInHost* host, int32_t width, int32_t height, PrPixelFormat format,
               PrPPixBufferAccess access, uint8_t fill, prSuiteError* error) {
    return handOut(host, new PPix(), width, height, format, access, fill, error);
}

PPix* newRenderedFrame(StandInHost* host, int32_t width, int32_t height, PrPixelFormat format,
                       uint8_t fill, prSuiteError* error) {
    PPix* frame = host->spareRendered;
    host->spareRendered = nullptr;
    const int64_t rowBytes =
        static_cast<int64_t>(width) * bytesPerPixel(format) + host->config.rowPaddingBytes;
    if (frame && (frame->width != width || frame->height != height ||
                  frame->pixelFormat != format || frame->rowBytes != rowBytes)) {
        delete frame;
        frame = nullptr;
    }
    frame = handOut(host, frame ? frame : new PPix(), width, height, format,
                    PrPPixBufferAccess_ReadOnly, fill, error);
    if (frame)
        frame->rendered = true;
    return frame;
}

void releaseIfUnheld(StandInHost* host, PPix* frame) {
    if (frame->callerRefs > 0 || frame->cacheRefs > 0)
        return;
    host->frames.erase(&frame->master);
    host->count.framesFreed++;
    // Gone for the plug-in (its handle is unknown from here on), but its
    // memory serves the next render.
    if (frame->rendered && !host->spareRendered) {
        host->spareRendered = frame;
        return;
    }
    if (!frame->rendered && !host->config.paintNewFrames && host->sparePixels.size() < kSpareFrames)
        host->sparePixels.push_back(std::move(frame->pixels));
    delete frame;
}

void freeAllFrames(StandInHost* host) {
    for (auto& entry : host->frames)
        delete entry.second;
    host->frames.clear();
    delete host->spareRendered;
    host->spareRendered = nullptr;
    host->sparePixels.clear();
}

prSuiteError ppixCreate(StandInHost* host, PPixHand* out, PrPPixBufferAccess access,
                        PrPixelFormat format, const prRect* bounds) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    if (!out || !bounds || access < PrPPixBufferAccess_ReadOnly ||
        access > PrPPixBufferAccess_ReadWrite)
        return suiteError_InvalidParms;
    int32_t width = static_cast<int32_t>(bounds->right) - bounds->left;
    int32_t height = static_cast<int32_t>(bounds->bottom) - bounds->top;
    prSuiteError error;
    PPix* frame = newFrame(host, width, height, format, access, kFramePixelFill, &error);
    if (!frame)
        return error;
    *out = &frame->master;
    return suiteError_NoError;
}

prSuiteError ppixDispose(StandInHost* host, PPixHand h) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    host->count.frameDisposeCalls++;
    PPix* frame = lookUpOrReport(host, h, "Dispose (a second disposal?)");
    if (!frame)
        return suiteError_InvalidParms;
    if (frame->callerRefs == 0) {
        // Only the cache holds it: the caller already gave its reference back.
        recordViolation(host, "frame disposed more often than it was handed out");
        return suiteError_InvalidParms;
    }
    frame->callerRefs--;
    releaseIfUnheld(host, frame);
    return suiteError_NoError;
}

prSuiteError ppixGetPixels(StandInHost* host, PPixHand h, PrPPixBufferAccess access, char** out) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    PPix* frame = lookUpOrReport(host, h, "GetPixels");
    if (!frame || !out)
        return suiteError_InvalidParms;
    if (access != PrPPixBufferAccess_ReadOnly && frame->access == PrPPixBufferAccess_ReadOnly) {
        recordViolation(host, "GetPixels for writing on a read-only frame");
        return suiteError_InvalidParms;
    }
    *out = reinterpret_cast<char*>(frame->pixels.data());
    return suiteError_NoError;
}

prSuiteError ppixGetBounds(StandInHost* host, PPixHand h, prRect* out) {
    return queryFrame(host, h, "GetBounds", out != nullptr, [&](const PPix& frame) {
        out->top = 0;
        out->left = 0;
        out->bottom = static_cast<int16_t>(frame.height);
        out->right = static_cast<int16_t>(frame.width);
    });
}

prSuiteError ppixGetRowBytes(StandInHost* host, PPixHand h, int32_t* out) {
    return queryFrame(host, h, "GetRowBytes", out != nullptr,
                      [&](const PPix& frame) { *out = frame.rowBytes; });
}

prSuiteError ppixGetPixelAspectRatio(StandInHost* host, PPixHand h, uint32_t* num, uint32_t* den) {
    return queryFrame(host, h, "GetPixelAspectRatio", num != nullptr && den != nullptr,
                      [&](const PPix&) {
                          *num = 1;
                          *den = 1;
                      });
}

prSuiteError ppixGetPixelFormat(StandInHost* host, PPixHand h, PrPixelFormat* out) {
    return queryFrame(host, h, "GetPixelFormat", out != nullptr,
                      [&](const PPix& frame) { *out = frame.pixelFormat; });
}

void clearFrameCache(StandInHost* host) {
    Lock lock(host->mutex);
    dropCache(host);
}

FrameInfo describeFrame(StandInHost* host, PPixHand h) {
    Lock lock(host->mutex);
    FrameInfo info{};
    PPix* frame = findFrame(host, h);
    if (!frame)
        return info;
    info.found = true;
    info.width = frame->width;
    info.height = frame->height;
    info.rowBytes = frame->rowBytes;
    info.pixelFormat = frame->pixelFormat;
    info.callerRefs = frame->callerRefs;
    info.cacheRefs = frame->cacheRefs;
    info.pixels = frame->pixels.data();
    return info;
}

} // namespace keo::host
