// The PPix Cache Suite: frames kept under (importer id, stream, key).
//
// The importer passes a frame index where the suite takes a time, so the key
// is whatever number the caller chooses. A lookup hits only when the entry's
// pixel format is one of the requested formats and, unless the request's
// size is 0 x 0 (the file's own size), its size matches too.
#include "HostState.h"

#include <cstdint>

namespace keo::host {
namespace {

bool matchesOneOf(const PPix* frame, int32_t numFormats, const imFrameFormat* formats) {
    if (numFormats <= 0 || !formats)
        return true;
    for (int32_t i = 0; i < numFormats; ++i) {
        const imFrameFormat& f = formats[i];
        bool anySize = f.inFrameWidth == 0 && f.inFrameHeight == 0;
        bool sizeOK =
            anySize || (f.inFrameWidth == frame->width && f.inFrameHeight == frame->height);
        if (f.inPixelFormat == frame->pixelFormat && sizeOK)
            return true;
    }
    return false;
}

void dropEntry(StandInHost* host, std::map<CacheKey, PPix*>::iterator it) {
    PPix* frame = it->second;
    host->cache.erase(it);
    frame->cacheRefs--;
    releaseIfUnheld(host, frame);
}

} // namespace

prSuiteError cacheGetFrame(StandInHost* host, int32_t importerID, int32_t stream, PrTime key,
                           int32_t numFormats, const imFrameFormat* formats, PPixHand* out,
                           const void*, const void*) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    if (!out)
        return suiteError_InvalidParms;
    auto it = host->cache.find(CacheKey{importerID, stream, key});
    if (it == host->cache.end() || !matchesOneOf(it->second, numFormats, formats)) {
        host->count.cacheMisses++;
        return suiteError_NotFound;
    }
    it->second->callerRefs++;
    *out = &it->second->master;
    host->count.cacheHits++;
    return suiteError_NoError;
}

prSuiteError cacheAddFrame(StandInHost* host, int32_t importerID, int32_t stream, PPixHand h,
                           PrTime key, const void*, int32_t) {
    if (!host)
        return suiteError_Fail;
    Lock lock(host->mutex);
    PPix* frame = findFrame(host, h);
    if (!frame) {
        recordViolation(host, "AddFrameToCache with a frame the host does not have");
        return suiteError_InvalidParms;
    }
    CacheKey k{importerID, stream, key};
    // Take the new reference before dropping an old entry: re-adding the
    // frame already cached under this key must not free it on the way.
    frame->cacheRefs++;
    auto it = host->cache.find(k);
    if (it != host->cache.end())
        dropEntry(host, it);
    host->cache[k] = frame;
    host->count.cacheAdds++;
    return suiteError_NoError;
}

void dropCache(StandInHost* host) {
    while (!host->cache.empty())
        dropEntry(host, host->cache.begin());
}

void dropImporterFrames(StandInHost* host, int32_t importerID) {
    // The key starts with the importer id, so its entries are one run.
    auto it = host->cache.lower_bound(CacheKey{importerID, INT32_MIN, INT64_MIN});
    while (it != host->cache.end() && std::get<0>(it->first) == importerID)
        dropEntry(host, it++);
}

} // namespace keo::host
