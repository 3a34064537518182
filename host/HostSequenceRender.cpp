// The Sequence Render Suite: frames of the driver's pictures, as the host renders them.
//
// A render asks the frame source for a top-down RGBA picture and hands back a
// PrPixelFormat_BGRA_4444_8u frame, bottom row first, with padded rows (the
// padding bytes hold 0xEE). With inCompositeOnBlack the picture is laid over
// opaque black first. A failure code set by the driver replaces the result,
// with or without a frame.
#include "HostState.h"

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

// Turns the source's top-down RGBA rows into the frame's bottom-up BGRA rows.
void storeBottomUp(PPix* frame, const std::vector<uint8_t>& rgba, bool onBlack) {
    const int32_t w = frame->width, h = frame->height;
    for (int32_t r = 0; r < h; ++r) {
        const uint8_t* src = rgba.data() + static_cast<size_t>(r) * w * 4;
        uint8_t* dst = frame->pixels.data() + static_cast<size_t>(h - 1 - r) * frame->rowBytes;
        for (int32_t x = 0; x < w; ++x, src += 4, dst += 4) {
            uint8_t red = src[0], green = src[1], blue = src[2], alpha = src[3];
            if (onBlack) {
                red = static_cast<uint8_t>((red * alpha + 127) / 255);
                green = static_cast<uint8_t>((green * alpha + 127) / 255);
                blue = static_cast<uint8_t>((blue * alpha + 127) / 255);
                alpha = 255;
            }
            dst[0] = blue;
            dst[1] = green;
            dst[2] = red;
            dst[3] = alpha;
        }
    }
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
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4, 0);
    if (host->frameSource && host->frameSource(host->frameContext, time, w, h, rgba.data()) != 0)
        return suiteError_Fail;
    prSuiteError error;
    PPix* frame = newFrame(host, w, h, PrPixelFormat_BGRA_4444_8u, PrPPixBufferAccess_ReadOnly,
                           kPaddingFill, &error);
    if (!frame)
        return error;
    storeBottomUp(frame, rgba, params->inCompositeOnBlack != 0);
    result->outFrame = &frame->master;
    result->returnVal = host->renderResult;
    return host->renderResult;
}

void setFrameSource(StandInHost* host, FrameSource source, void* context) {
    Lock lock(host->mutex);
    host->frameSource = source;
    host->frameContext = context;
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
