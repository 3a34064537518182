// The exporter entry's part of an export: the private record, the suites,
// the renderer and the movie, taken by KEOExportBegin and given back by
// KEOExportEnd on every path.
#include "exporter/ExportSession.h"

#include <new>
#include <type_traits>

#include "KEOAudioChannels.h"
#include "container/MovFile.h"
#include "exporter/ExportParams.h"
#include "exporter/ExportRender.h"
#include "exporter/ExporterLocalRec.h"
#include "exporter/RenderAudio.h"

namespace {

struct Acquired {
    const char* name;
    int32_t version;
};

// The private record comes first: privateData points at it, so the render
// functions, which know only the record, and the calls here, which need the
// rest, share one pointer.
struct ExportSession {
    ExporterLocalRec rec;
    SPBasicSuite* basic;
    uint32_t pluginID;
    bool rendererMade;
    int acquiredCount;
    Acquired acquired[7];
};
static_assert(std::is_standard_layout_v<ExportSession>,
              "privateData, a pointer to the record, is also one to the session");

ExportSession* sessionOf(const exDoExportRec* record) {
    return record ? static_cast<ExportSession*>(record->privateData) : nullptr;
}

// What the movie is made of, read from the export settings.
struct MovieSettings {
    int32_t width = 0, height = 0;
    PrTime ticksPerFrame = 0;
    int sampleRate = 0, channels = 0, bits = 0;
};

int readSettings(exDoExportRec* record, bool hasAudio, MovieSettings* m) {
    using namespace keo::exporter;
    int err = readParamInt(record, "ADBEVideoWidth", &m->width);
    if (err == 0)
        err = readParamInt(record, "ADBEVideoHeight", &m->height);
    if (err == 0)
        err = readParamTime(record, "ADBEVideoFPS", &m->ticksPerFrame);
    if (err != 0 || !hasAudio)
        return err != 0 ? kKEOExportBadArgument : 0;
    double rate = 0;
    int32_t channelType = 0, sampleType = 0;
    if (readParamFloat(record, "ADBEAudioRatePerSecond", &rate) != 0 ||
        readParamInt(record, "ADBEAudioNumChannels", &channelType) != 0 ||
        readParamInt(record, "ADBEAudioSampleType", &sampleType) != 0 || !(rate >= 1) || rate > 1e9)
        return kKEOExportBadArgument;
    m->sampleRate = static_cast<int>(rate);
    m->channels = KEOChannelsOfType(channelType);
    m->bits = 8 * bytesPerSampleOfType(sampleType);
    return m->channels < 1 || m->bits == 0 ? kKEOExportBadAudioFormat : 0;
}

template <typename Suite>
bool acquire(ExportSession* s, const char* name, int32_t version, const Suite** suite) {
    const void* table = nullptr;
    if (s->basic->AcquireSuite(name, version, &table) != kSPNoError || !table)
        return false;
    s->acquired[s->acquiredCount++] = {name, version};
    *suite = static_cast<const Suite*>(table);
    return true;
}

bool acquireSuites(ExportSession* s) {
    ExporterLocalRec& r = s->rec;
    return acquire(s, kPrSDKPPixSuite, kPrSDKPPixSuiteVersion, &r.ppixSuite) &&
           acquire(s, kPrSDKTimeSuite, kPrSDKTimeSuiteVersion, &r.timeSuite) &&
           acquire(s, kPrSDKMemoryManagerSuite, kPrSDKMemoryManagerSuiteVersion, &r.memorySuite) &&
           acquire(s, kPrSDKSequenceAudioSuite, kPrSDKSequenceAudioSuiteVersion,
                   &r.sequenceAudioSuite) &&
           acquire(s, kPrSDKSequenceRenderSuite, kPrSDKSequenceRenderSuiteVersion,
                   &r.sequenceRenderSuite) &&
           acquire(s, kPrSDKAudioSuite, kPrSDKAudioSuiteVersion, &r.audioSuite);
}

void giveBack(ExportSession* s) {
    if (s->rendererMade)
        s->rec.sequenceRenderSuite->ReleaseVideoRenderer(s->pluginID, s->rec.videoRenderID);
    s->rendererMade = false;
    for (int i = 0; i < s->acquiredCount; ++i)
        s->basic->ReleaseSuite(s->acquired[i].name, s->acquired[i].version);
    s->acquiredCount = 0;
}

// Everything after the settings: the movie, the rest of the suites, the
// renderer. The caller gives back what is taken when this fails.
int startExport(ExportSession* s, exDoExportRec* record, const KEOExportMovie& movie,
                int* writeErrno) {
    const bool hasAudio = record->exportAudio != 0;
    MovieSettings m;
    int err = readSettings(record, hasAudio, &m);
    if (err != 0)
        return err;
    char compressor[] = "ZUVM";
    if (!s->rec.movFile->openWrite(movie.path, compressor, m.width, m.height, movie.rate, 1,
                                   hasAudio ? 1 : 0, m.sampleRate, m.channels, m.bits)) {
        *writeErrno = s->rec.movFile->writeErrno;
        return kKEOExportWriteFailed;
    }
    if (!acquireSuites(s))
        return kKEOExportHostFailed;
    if (s->rec.sequenceRenderSuite->MakeVideoRenderer(s->pluginID, &s->rec.videoRenderID,
                                                      m.ticksPerFrame) != suiteError_NoError)
        return kKEOExportHostFailed;
    s->rendererMade = true;
    return 0;
}

} // namespace

int KEOExportBegin(exportStdParms* stdParms, exDoExportRec* record, const KEOExportMovie& movie,
                   int* writeErrno) {
    int ignored = 0;
    if (!writeErrno)
        writeErrno = &ignored;
    *writeErrno = 0;
    if (!stdParms || !stdParms->getSPBasicSuite || !record || record->privateData || !movie.path)
        return kKEOExportBadArgument;
    ExportSession* s = new (std::nothrow) ExportSession{};
    MovFile* file = new (std::nothrow) MovFile;
    if (!s || !file || !(s->basic = stdParms->getSPBasicSuite())) {
        delete s;
        delete file;
        return s && file ? kKEOExportHostFailed : kKEOExportOutOfMemory;
    }
    s->rec.movFile = file;
    s->pluginID = record->exporterPluginID;
    // The settings are read through the record, so it leads to the session
    // from the first read on.
    record->privateData = &s->rec;
    int err =
        acquire(s, kPrSDKExportParamSuite, kPrSDKExportParamSuiteVersion, &s->rec.exportParamSuite)
            ? startExport(s, record, movie, writeErrno)
            : kKEOExportHostFailed;
    if (err != 0) {
        KEOExportEnd(record, nullptr);
        return err;
    }
    return 0;
}

int KEOExportFrame(exDoExportRec* record, PrTime time) {
    return sessionOf(record) ? RenderAndWriteVideoFrame(time, record) : kKEOExportBadArgument;
}

int KEOExportAudio(exDoExportRec* record, PrTime duration) {
    return sessionOf(record) ? RenderAndWriteAllAudio(record, duration) : kKEOExportBadArgument;
}

int KEOExportWriteErrno(const exDoExportRec* record) {
    const ExportSession* s = sessionOf(record);
    return s ? s->rec.movFile->writeErrno : 0;
}

int KEOExportEnd(exDoExportRec* record, int* writeErrno) {
    if (writeErrno)
        *writeErrno = 0;
    ExportSession* s = sessionOf(record);
    if (!s)
        return 0;
    giveBack(s);
    int result = 0;
    MovFile* movie = s->rec.movFile;
    // A movie that was never opened closes as nothing to do.
    if (movie->close() != 0) {
        result = kKEOExportWriteFailed;
        if (writeErrno)
            *writeErrno = movie->writeErrno;
    }
    delete movie;
    delete s;
    record->privateData = nullptr;
    return result;
}
