// The Export Param Suite: the export's settings, readable by identifier.
//
// Values live in the host and are set by the driver (test or `keo`); the
// exporter reads them through GetParamValue with its own exporter id and
// group 0. An unknown identifier, id or group is an error, so a misspelt
// identifier fails loudly instead of reading zero.
#include "HostState.h"

#include <cstring>

namespace keo::host {
namespace {

void setValue(StandInHost* host, const char* identifier, const exParamValue& value) {
    if (!identifier)
        return;
    exParamValues v{};
    v.structVersion = 1;
    v.value = value;
    host->params[identifier] = v;
}

exParamValue intValue(int32_t i) {
    exParamValue v{};
    v.intValue = i;
    return v;
}

exParamValue floatValue(double f) {
    exParamValue v{};
    v.floatValue = f;
    return v;
}

exParamValue timeValue(PrTime t) {
    exParamValue v{};
    v.timeValue = t;
    return v;
}

} // namespace

void setDefaultParams(StandInHost* host) {
    setValue(host, "ADBEVideoWidth", intValue(640));
    setValue(host, "ADBEVideoHeight", intValue(480));
    setValue(host, "ADBEVideoFPS", timeValue(kTicksPerSecond / 30));
    setValue(host, "ADBEAudioRatePerSecond", floatValue(48000.0));
    setValue(host, "ADBEAudioNumChannels", intValue(kPrAudioChannelType_Stereo));
    setValue(host, "ADBEAudioSampleType", intValue(kPrAudioSampleType_16BitInt));
    setValue(host, "KEOTransparency", intValue(0));
    setValue(host, "KEOOptimizeFor", intValue(0));
    setValue(host, "KEOEncodeThreads", intValue(1));
}

void setParamInt(StandInHost* host, const char* identifier, int32_t value) {
    Lock lock(host->mutex);
    setValue(host, identifier, intValue(value));
}

void setParamFloat(StandInHost* host, const char* identifier, double value) {
    Lock lock(host->mutex);
    setValue(host, identifier, floatValue(value));
}

void setParamTime(StandInHost* host, const char* identifier, PrTime value) {
    Lock lock(host->mutex);
    setValue(host, identifier, timeValue(value));
}

prSuiteError paramGetValue(StandInHost* host, uint32_t exporterID, int32_t groupIndex,
                           exParamIdentifier identifier, exParamValues* value) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    if (!identifier || !value || exporterID != host->config.exporterPluginID || groupIndex != 0)
        return suiteError_InvalidParms;
    auto it = host->params.find(identifier);
    if (it == host->params.end())
        return suiteError_NotFound;
    *value = it->second;
    host->count.paramReads++;
    return suiteError_NoError;
}

} // namespace keo::host
