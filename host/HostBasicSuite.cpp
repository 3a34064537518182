// SPBasicSuite of the stand-in host: suites by name and version, counted.
//
// Each acquisition is counted per (name, version); a release without a
// matching acquisition is a violation, so a test can prove that a plug-in
// gives back exactly what it took.
#include "HostState.h"

#include <cstring>

#include "KEOSuiteNames.h"

namespace keo::host {
namespace {

// The table beside the entry of `suites` that names (name, version), or null.
template <size_t N>
const void* find(const KEOSuiteName (&suites)[N], const void* const (&tables)[N], const char* name,
                 int32_t version) {
    for (size_t i = 0; i < N; ++i)
        if (std::strcmp(suites[i].name, name) == 0 && suites[i].version == version)
            return tables[i];
    return nullptr;
}

// The table of a known (name, version), or null.
const void* lookUp(StandInHost* host, const char* name, int32_t version) {
    HostSuites s = tableSuites(host);
    const void* const importer[] = {s.ppixCreator, s.ppixCache, s.ppix, s.time, s.audio};
    const void* const exporter[] = {s.exportParam, s.sequenceRender, s.sequenceAudio,
                                    s.memoryManager};
    const void* table = find(kKEOImporterSuites, importer, name, version);
    return table ? table : find(kKEOExporterSuites, exporter, name, version);
}

void logSuiteCall(StandInHost* host, const char* what, const char* name, int32_t version) {
    // A host lives through any number of opens; only the recent calls are
    // kept, which is all a check of their order needs.
    if (host->suiteCalls.size() == kSuiteCallsKept)
        host->suiteCalls.pop_front();
    host->suiteCalls.push_back(std::string(what) + " " + name + " " + std::to_string(version));
}

} // namespace

SPErr basicAcquireSuite(StandInHost* host, const char* name, int32_t version, const void** suite) {
    if (!host)
        return kSPSuiteNotFoundError;
    Lock lock(host->mutex);
    if (!name || !suite) {
        host->count.acquireFailures++;
        return kSPBadParameterError;
    }
    const void* table = lookUp(host, name, version);
    if (!table) {
        host->count.acquireFailures++;
        return kSPSuiteNotFoundError;
    }
    *suite = table;
    host->held[{name, version}]++;
    logSuiteCall(host, "acquire", name, version);
    host->count.suitesAcquired++;
    return kSPNoError;
}

SPErr basicReleaseSuite(StandInHost* host, const char* name, int32_t version) {
    if (!host)
        return kSPSuiteNotFoundError;
    Lock lock(host->mutex);
    if (!name)
        return kSPBadParameterError;
    auto it = host->held.find({name, version});
    if (it == host->held.end() || it->second == 0) {
        recordViolation(host, std::string("suite \"") + name + "\" version " +
                                  std::to_string(version) + " released but not held");
        return lookUp(host, name, version) ? kSPBadParameterError : kSPSuiteNotFoundError;
    }
    it->second--;
    logSuiteCall(host, "release", name, version);
    host->count.suitesReleased++;
    return kSPNoError;
}

int32_t basicIsEqual(const char* a, const char* b) {
    return a && b && std::strcmp(a, b) == 0;
}

} // namespace keo::host
