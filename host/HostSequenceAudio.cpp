// The Sequence Audio Suite: the export's audio in planar float blocks.
//
// A renderer reads sample frames one block after another from its start
// time, out of the driver's audio source (silence without one). GetMaxBlip
// answers from the driver's list, so a test can make the largest block shrink
// between calls; a GetAudio longer than the last answer is refused, as is a
// renderer used after its release.
#include "HostState.h"

#include <cstring>

#include "base/FrameRate.h"

#include "KEOAudioChannels.h"

namespace keo::host {

prSuiteError audioMakeRenderer(StandInHost* host, uint32_t pluginID, PrTime startTime,
                               PrAudioChannelType channelType, PrAudioSampleType sampleType,
                               float sampleRate, uint32_t* outID) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    AudioRendererLog& log = host->audioLog;
    log.count++;
    log.pluginID = pluginID;
    log.startTime = startTime;
    log.channelType = channelType;
    log.sampleType = sampleType;
    log.sampleRate = sampleRate;
    log.blockSizes.clear();
    PrTime ticksPerSample = 0;
    if (!outID || pluginID != host->config.exporterPluginID || KEOChannelsOfType(channelType) < 0 ||
        sampleType != kPrAudioSampleType_32BitFloat || startTime < 0 ||
        ticksPerAudioSample(sampleRate, &ticksPerSample) != suiteError_NoError)
        return suiteError_InvalidParms;
    AudioRenderer r{};
    r.pluginID = pluginID;
    r.channels = KEOChannelsOfType(channelType);
    r.ticksPerSample = ticksPerSample;
    r.nextFrame = startTime / ticksPerSample;
    r.maxBlip = -1;
    return addRenderer(host->audioRenderers, host->nextAudioRenderID, r,
                       host->count.audioRenderersMade, outID);
}

prSuiteError audioReleaseRenderer(StandInHost* host, uint32_t pluginID, uint32_t id) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    return releaseRenderer(host, host->audioRenderers, pluginID, id, "AudioRenderer",
                           host->count.audioRenderersReleased);
}

prSuiteError audioGetMaxBlip(StandInHost* host, uint32_t id, PrTime ticksPerFrame,
                             int32_t* outMaxBlip) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    auto it = host->audioRenderers.find(id);
    if (it == host->audioRenderers.end() || !outMaxBlip || ticksPerFrame <= 0)
        return suiteError_InvalidParms;
    AudioRenderer& r = it->second;
    int64_t blip;
    if (!host->maxBlips.empty()) {
        size_t i = static_cast<size_t>(r.blipCalls);
        blip = host->maxBlips[i < host->maxBlips.size() ? i : host->maxBlips.size() - 1];
    } else {
        // One video frame's worth of samples, rounded up (the sample rate
        // divides the clock, or the renderer was not made).
        blip = keo::soundBlockFrames(ticksPerFrame, kTicksPerSecond,
                                     kTicksPerSecond / r.ticksPerSample);
    }
    r.blipCalls++;
    r.maxBlip = blip;
    host->count.maxBlipCalls++;
    *outMaxBlip = static_cast<int32_t>(blip);
    return suiteError_NoError;
}

prSuiteError audioGetAudio(StandInHost* host, uint32_t id, uint32_t frameCount, float** buffers,
                           char) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    int64_t callIndex = host->count.getAudioCalls++;
    auto it = host->audioRenderers.find(id);
    if (it == host->audioRenderers.end()) {
        recordViolation(host, "GetAudio with a renderer that was not made");
        return suiteError_InvalidParms;
    }
    AudioRenderer& r = it->second;
    if (!buffers)
        return suiteError_InvalidParms;
    for (int32_t c = 0; c < r.channels; ++c)
        if (!buffers[c])
            return suiteError_InvalidParms;
    if (r.maxBlip >= 0 && frameCount > r.maxBlip) {
        recordViolation(host, "GetAudio block of " + std::to_string(frameCount) +
                                  " frames exceeds the largest block " + std::to_string(r.maxBlip));
        return suiteError_InvalidParms;
    }
    host->audioLog.blockSizes.push_back(frameCount);
    if (callIndex == host->audioFailIndex)
        return host->audioFailCode;
    int result = 0;
    if (host->audioSource) {
        result = host->audioSource(host->audioContext, r.nextFrame, frameCount,
                                   static_cast<uint32_t>(r.channels), buffers);
    } else {
        for (int32_t c = 0; c < r.channels; ++c)
            std::memset(buffers[c], 0, sizeof(float) * frameCount);
    }
    if (result != 0)
        return result;
    r.nextFrame += frameCount;
    return suiteError_NoError;
}

void setAudioSource(StandInHost* host, AudioSource source, void* context) {
    Lock lock(host->mutex);
    host->audioSource = source;
    host->audioContext = context;
}

void setMaxBlips(StandInHost* host, const std::vector<int32_t>& blips) {
    Lock lock(host->mutex);
    host->maxBlips = blips;
}

void setGetAudioFailure(StandInHost* host, int64_t callIndex, prSuiteError code) {
    Lock lock(host->mutex);
    host->audioFailIndex = callIndex;
    host->audioFailCode = code;
}

const AudioRendererLog& lastAudioRenderer(StandInHost* host) {
    return host->audioLog;
}

} // namespace keo::host
