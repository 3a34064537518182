// The Sequence Render Suite: frames of the driver's pictures, as the host renders them.
//
// A render takes a top-down RGBA picture, lent by the driver's lender or
// drawn by its frame source, and hands back a PrPixelFormat_BGRA_4444_8u
// frame, bottom row first, with padded rows (the padding bytes hold 0xEE
// when frames are painted). With inCompositeOnBlack the picture is laid over
// opaque black (base/PixelOrder.h says how). Reordering, flipping and
// compositing are one pass from the picture into the frame, and the frame's
// memory is the last one's when that was given back. A failure code set by
// the driver replaces the result, with or without a frame.
#include "HostState.h"

#include "base/PixelOrder.h"

namespace keo::host {
namespace {

constexpr uint8_t kPaddingFill = 0xEE;

bool asksForBGRA(const SequenceRender_ParamsRec* p) {
    if (!p->inRequestedPixelFormatArray || p->inRequestedPixelFormatArrayCount < 1)
        return false;
    for (int32_t i = 0; i < p->inRequestedPixelFormatArrayCount; ++i)
        if (p->inRequestedPixelFormatArray[i] == PrPixelFormat_BGRA_4444_8u)
            return true;
    return false;
}

void logRequest(StandInHost* host, uint32_t id, PrTime time, const SequenceRender_ParamsRec* params,
                int32_t cacheFlags) {
    RenderRequestLog& log = host->renderLog;
    log.count++;
    log.videoRenderID = id;
    log.time = time;
    log.cacheFlags = cacheFlags;
    log.params = *params;
    log.params.inRequestedPixelFormatArray = nullptr;
    log.formats.clear();
    if (params->inRequestedPixelFormatArray)
        for (int32_t i = 0; i < params->inRequestedPixelFormatArrayCount; ++i)
            log.formats.push_back(params->inRequestedPixelFormatArray[i]);
}

// The picture at `time`, top row first, rows *pitch apart: the lender's
// own, or drawn into the host's buffer (black and transparent where the
// source leaves it, or without a source). Null when the driver fails it.
const uint8_t* pictureAt(StandInHost* host, PrTime time, int32_t w, int32_t h, size_t* pitch) {
    if (host->frameLender)
        return host->frameLender(host->frameContext, time, w, h, pitch);
    *pitch = static_cast<size_t>(w) * 4;
    host->picture.assign(*pitch * h, 0);
    if (host->frameSource &&
        host->frameSource(host->frameContext, time, w, h, host->picture.data()) != 0)
        return nullptr;
    return host->picture.data();
}

} // namespace

prSuiteError renderMakeVideoRenderer(StandInHost* host, uint32_t pluginID, uint32_t* outID,
                                     PrTime) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    if (!outID || pluginID != host->config.exporterPluginID)
        return suiteError_InvalidParms;
    return addRenderer(host->videoRenderers, host->nextVideoRenderID, VideoRenderer{pluginID},
                       host->count.videoRenderersMade, outID);
}

prSuiteError renderReleaseVideoRenderer(StandInHost* host, uint32_t pluginID, uint32_t id) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    return releaseRenderer(host, host->videoRenderers, pluginID, id, "VideoRenderer",
                           host->count.videoRenderersReleased);
}

prSuiteError renderVideoFrame(StandInHost* host, uint32_t id, PrTime time,
                              const SequenceRender_ParamsRec* params, int32_t cacheFlags,
                              SequenceRender_GetFrameReturnRec* result) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    if (!params || !result)
        return suiteError_InvalidParms;
    logRequest(host, id, time, params, cacheFlags);
    host->count.renderCalls++;
    result->outFrame = nullptr;
    result->returnVal = suiteError_Fail;
    if (!host->videoRenderers.count(id)) {
        recordViolation(host, "RenderVideoFrame with a renderer that was not made");
        return suiteError_InvalidParms;
    }
    if (!asksForBGRA(params))
        return suiteError_InvalidParms;
    if (host->renderResult != suiteError_NoError && !host->renderDelivers) {
        result->returnVal = host->renderResult;
        return host->renderResult;
    }
    const int32_t w = params->inWidth, h = params->inHeight;
    if (w < 1 || h < 1 || w > 32767 || h > 32767)
        return suiteError_InvalidParms;
    size_t pitch = 0;
    const uint8_t* picture = pictureAt(host, time, w, h, &pitch);
    if (!picture || pitch < static_cast<size_t>(w) * 4)
        return suiteError_Fail;
    prSuiteError error;
    PPix* frame = newRenderedFrame(host, w, h, PrPixelFormat_BGRA_4444_8u, kPaddingFill, &error);
    if (!frame)
        return error;
    keo::convertPixels(
        {keo::PixelLayout::RGBA, keo::PixelLayout::BGRA, keo::RowOrder::Flipped,
         params->inCompositeOnBlack ? keo::PixelAlpha::OntoBlack : keo::PixelAlpha::Keep},
        picture, pitch, frame->pixels.data(), static_cast<size_t>(frame->rowBytes), w, h);
    result->outFrame = &frame->master;
    result->returnVal = host->renderResult;
    return host->renderResult;
}

void setFrameSource(StandInHost* host, FrameSource source, void* context) {
    Lock lock(host->mutex);
    host->frameSource = source;
    host->frameLender = nullptr;
    host->frameContext = context;
}

void setFrameLender(StandInHost* host, FrameLender lender, void* context) {
    Lock lock(host->mutex);
    host->frameLender = lender;
    host->frameSource = nullptr;
    host->frameContext = context;
    // The lender's pictures need no buffer of the host's.
    decltype(host->picture)().swap(host->picture);
}

void setRenderResult(StandInHost* host, prSuiteError code, bool deliverFrame) {
    Lock lock(host->mutex);
    host->renderResult = code;
    host->renderDelivers = deliverFrame;
}

const RenderRequestLog& lastRenderRequest(StandInHost* host) {
    return host->renderLog;
}

} // namespace keo::host
