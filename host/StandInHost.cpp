// Life of a stand-in host, its settings, counters and leak report.
#include "HostState.h"

#include <climits>
#include <sstream>

namespace keo::host {

void recordViolation(StandInHost* host, const std::string& what) {
    host->violations.push_back(what);
    host->count.violations++;
}

bool allowAllocation(StandInHost* host) {
    if (host->allocationsLeft < 0)
        return true;
    if (host->allocationsLeft == 0)
        return false;
    host->allocationsLeft--;
    return true;
}

StandInHost* createHost(const HostConfig& config) {
    StandInHost* host = new StandInHost();
    host->config = config;
    host->slot = claimSlot(host);
    if (host->slot < 0) {
        delete host;
        return nullptr;
    }
    host->allocationsLeft = -1;
    host->nextVideoRenderID = 1;
    host->nextAudioRenderID = 1;
    host->audioFailIndex = -1;
    wireTables(host);
    setDefaultParams(host);
    return host;
}

void destroyHost(StandInHost* host) {
    if (!host)
        return;
    // Give up the slot first so that a table still held by a plug-in fails
    // from here on instead of reaching a host being torn down.
    releaseSlot(host->slot);
    {
        Lock lock(host->mutex);
        dropCache(host);
        freeAllFrames(host);
        freeAllMemory(host);
    }
    delete host;
}

imStdParms* importerStdParms(StandInHost* host) {
    return &host->stdParms;
}

exportStdParms* exporterStdParms(StandInHost* host) {
    return &host->exportParms;
}

exDoExportRec makeExportRec(StandInHost* host, void* privateData, PrTime startTime,
                            PrTime endTime) {
    exDoExportRec rec{};
    rec.exporterPluginID = host->config.exporterPluginID;
    rec.privateData = privateData;
    rec.startTime = startTime;
    rec.endTime = endTime;
    rec.exportAudio = 1;
    rec.exportVideo = 1;
    return rec;
}

HostSuites hostSuites(StandInHost* host) {
    return tableSuites(host);
}

void setInterfaceVersion(StandInHost* host, int32_t version) {
    Lock lock(host->mutex);
    host->config.interfaceVersion = version;
    host->stdParms.imInterfaceVer = version;
    host->suites.piInterfaceVer = version;
    host->exportParms.interfaceVer = version;
}

void setRowPadding(StandInHost* host, int32_t paddingBytes) {
    Lock lock(host->mutex);
    host->config.rowPaddingBytes = paddingBytes < 0 ? 0 : paddingBytes;
}

void setAllocationLimit(StandInHost* host, int64_t allocations) {
    Lock lock(host->mutex);
    host->allocationsLeft = allocations < 0 ? -1 : allocations;
}

HostCounters counters(StandInHost* host) {
    Lock lock(host->mutex);
    HostCounters c = host->count;
    c.handlesLive = static_cast<int64_t>(host->handles.size());
    c.handlesLocked = 0;
    for (const auto& entry : host->handles)
        if (entry.second->locks > 0)
            c.handlesLocked++;
    c.ptrsLive = static_cast<int64_t>(host->ptrs.size());
    c.suitesHeld = 0;
    for (const auto& entry : host->held)
        c.suitesHeld += entry.second;
    c.framesLive = static_cast<int64_t>(host->frames.size());
    c.cacheEntries = static_cast<int64_t>(host->cache.size());
    return c;
}

int64_t suiteHeld(StandInHost* host, const char* name, int32_t version) {
    Lock lock(host->mutex);
    auto it = host->held.find({name ? name : "", version});
    return it == host->held.end() ? 0 : it->second;
}

std::vector<std::string> suiteCalls(StandInHost* host) {
    Lock lock(host->mutex);
    return std::vector<std::string>(host->suiteCalls.begin(), host->suiteCalls.end());
}

int32_t newImporterID(StandInHost* host) {
    Lock lock(host->mutex);
    // Wrapping back to 1 would take 2^31 opens on one host.
    host->lastImporterID = host->lastImporterID == INT32_MAX ? 1 : host->lastImporterID + 1;
    return host->lastImporterID;
}

void forgetImporter(StandInHost* host, int32_t importerID) {
    Lock lock(host->mutex);
    dropImporterFrames(host, importerID);
}

std::vector<std::string> violations(StandInHost* host) {
    Lock lock(host->mutex);
    return host->violations;
}

std::string leakReport(StandInHost* host) {
    Lock lock(host->mutex);
    std::ostringstream out;
    if (!host->handles.empty())
        out << host->handles.size() << " memory handle(s) not disposed\n";
    if (!host->ptrs.empty())
        out << host->ptrs.size() << " memory pointer(s) not disposed\n";
    for (const auto& entry : host->held)
        if (entry.second > 0)
            out << "suite \"" << entry.first.first << "\" version " << entry.first.second
                << " acquired " << entry.second << " more time(s) than released\n";
    for (const auto& entry : host->frames)
        if (entry.second->callerRefs > 0)
            out << "frame " << entry.second->width << "x" << entry.second->height << ": "
                << entry.second->callerRefs << " reference(s) not disposed\n";
    if (!host->videoRenderers.empty())
        out << host->videoRenderers.size() << " video renderer(s) not released\n";
    if (!host->audioRenderers.empty())
        out << host->audioRenderers.size() << " audio renderer(s) not released\n";
    for (const std::string& v : host->violations)
        out << "violation: " << v << "\n";
    return out.str();
}

} // namespace keo::host
