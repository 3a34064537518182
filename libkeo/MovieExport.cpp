// The export driver: the exporter entry's part, played over the stand-in host.
#include "libkeo/MovieExport.h"

#include "StandInHost.h"
#include "container/MovFile.h"
#include "exporter/ExportRender.h"
#include "exporter/ExporterLocalRec.h"
#include "libkeo/AtomicOutput.h"
#include "libkeo/Failure.h"
#include "libkeo/FramesAhead.h"

#include <chrono>
#include <cstring>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace keo::lib {
namespace {

using keo::host::kTicksPerSecond;

int channelTypeOf(int channels) {
    switch (channels) {
    case 1:
        return kPrAudioChannelType_Mono;
    case 2:
        return kPrAudioChannelType_Stereo;
    case 6:
        return kPrAudioChannelType_51;
    default:
        return 0;
    }
}

int sampleTypeOf(int bits) {
    switch (bits) {
    case 8:
        return kPrAudioSampleType_8BitInt;
    case 16:
        return kPrAudioSampleType_16BitInt;
    case 24:
        return kPrAudioSampleType_24BitInt;
    case 32:
        return kPrAudioSampleType_32BitInt;
    default:
        return 0;
    }
}

// What the host's frame source hands over: the picture the driver loaded
// for the frame being rendered.
struct FrameSlot {
    const uint8_t* rgba = nullptr;
    int width = 0;
    int height = 0;
};

extern "C" int provideFrame(void* context, PrTime, int32_t width, int32_t height, uint8_t* rgba) {
    auto* slot = static_cast<FrameSlot*>(context);
    if (!slot->rgba || width != slot->width || height != slot->height)
        return 1;
    std::memcpy(rgba, slot->rgba, static_cast<size_t>(width) * height * 4);
    return 0;
}

struct AudioSlot {
    const AudioFeed* feed = nullptr;
    bool failed = false;
};

extern "C" int provideAudio(void* context, int64_t first, uint32_t count, uint32_t channels,
                            float** planar) {
    auto* slot = static_cast<AudioSlot*>(context);
    if (!(*slot->feed)(first, count, channels, planar)) {
        slot->failed = true;
        return 1;
    }
    return 0;
}

// Everything taken during an export, given back on every path.
struct ExportRun {
    AtomicOutput out;
    MovFile movie;
    bool movieOpen = false;
    keo::host::StandInHost* host = nullptr;
    SPBasicSuite* basic = nullptr;
    std::vector<std::pair<const char*, int32_t>> acquired;
    ExporterLocalRec rec{};
    uint32_t pluginID = 0;
    bool rendererMade = false;

    ~ExportRun() {
        releaseAll();
        if (movieOpen)
            movie.close();
        keo::host::destroyHost(host);
    }

    template <typename Suite> const Suite* acquire(const char* name, int32_t version) {
        const void* table = nullptr;
        if (basic->AcquireSuite(name, version, &table) != kSPNoError || !table)
            fail("host", std::string("cannot acquire the suite \"") + name + "\"");
        acquired.emplace_back(name, version);
        return static_cast<const Suite*>(table);
    }

    void releaseAll() {
        if (rendererMade && rec.sequenceRenderSuite)
            rec.sequenceRenderSuite->ReleaseVideoRenderer(pluginID, rec.videoRenderID);
        rendererMade = false;
        for (auto& s : acquired)
            basic->ReleaseSuite(s.first, s.second);
        acquired.clear();
    }
};

// The movie writer keeps the system's reason for a write that failed; that
// names the fault better than the export's own result ("No space left on
// device" rather than "the movie file could not be written").
[[noreturn]] void failExport(const ExportRun& run, const std::string& subject,
                             const std::string& output, int result) {
    if (run.movie.writeErrno != 0)
        failWithErrno(output, run.movie.writeErrno);
    fail(subject, KEOExportResultText(result));
}

} // namespace

// Every frame takes and gives back the same few pictures of megabytes (an
// export's render, frames read ahead and the exporter's own; a decode's host
// frame). glibc would serve each from fresh mappings, or hand the top of the
// heap back to the system as they are freed, and then fault every page in
// again on the next frame: at 1080p that doubled an export's time. Freed
// memory is kept for the next frame instead, for a process that ends with
// its movie.
void keepFreedFrameMemory() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

void checkExportSettings(const ExportSettings& s) {
    if (s.width < 1 || s.height < 1 || s.width > 32767 || s.height > 32767)
        fail("--size", std::to_string(s.width) + "x" + std::to_string(s.height) +
                           " is not a frame size between 1x1 and 32767x32767");
    std::string why;
    if (!rateFitsMovie(s.rate, &why))
        fail("--fps", why);
    if (s.optimize < 0 || s.optimize > 2)
        fail("--optimize", "must be 0, 1 or 2");
    if (s.threads < 1 || s.threads > 32)
        fail("--threads", "must be between 1 and 32");
    if (!s.hasAudio)
        return;
    if (!channelTypeOf(s.channels))
        fail("audio", std::to_string(s.channels) +
                          " channels cannot be exported; KEO movies take 1, 2 or 6");
    if (!sampleTypeOf(s.bits))
        fail("audio",
             std::to_string(s.bits) + "-bit samples cannot be exported; use 8, 16, 24 or 32");
    if (s.sampleRate < 1 || kTicksPerSecond % s.sampleRate != 0)
        fail("audio", "a sample rate of " + std::to_string(s.sampleRate) +
                          " Hz does not divide the host clock; use a common rate such as 48000");
}

ExportStats exportMovie(const ExportSettings& s, const FrameFeed& frames, const AudioFeed& audio) {
    checkExportSettings(s);
    if (s.keepFreedMemory)
        keepFreedFrameMemory();
    const PrTime tpf = ticksPerFrame(s.rate, kTicksPerSecond);
    ExportRun run;
    beginOutput(run.out, s.output, OutputUse::Seek, s.inputs);
    char compressor[] = "ZUVM";
    // The movie holds the rate exactly; the host sees it as ticks per frame
    // ("ADBEVideoFPS" below), rounded where the ticks do not divide.
    if (!run.movie.openWrite(run.out.writePath.c_str(), compressor, s.width, s.height, s.rate, 1,
                             s.hasAudio ? 1 : 0, s.sampleRate, s.channels, s.bits)) {
        if (run.movie.writeErrno != 0)
            failWithErrno(s.output, run.movie.writeErrno);
        fail(s.output, "the movie writer cannot create the movie");
    }
    run.movieOpen = true;

    run.host = keo::host::createHost();
    if (!run.host)
        fail("host", "cannot create the stand-in host");
    keo::host::StandInHost* host = run.host;
    keo::host::setParamInt(host, "ADBEVideoWidth", s.width);
    keo::host::setParamInt(host, "ADBEVideoHeight", s.height);
    keo::host::setParamTime(host, "ADBEVideoFPS", tpf);
    keo::host::setParamFloat(host, "ADBEAudioRatePerSecond", s.hasAudio ? s.sampleRate : 48000);
    keo::host::setParamInt(host, "ADBEAudioNumChannels",
                           s.hasAudio ? channelTypeOf(s.channels) : kPrAudioChannelType_Stereo);
    keo::host::setParamInt(host, "ADBEAudioSampleType",
                           s.hasAudio ? sampleTypeOf(s.bits) : kPrAudioSampleType_16BitInt);
    keo::host::setParamInt(host, "KEOTransparency", s.alpha ? 1 : 0);
    keo::host::setParamInt(host, "KEOOptimizeFor", s.optimize);
    keo::host::setParamInt(host, "KEOEncodeThreads", s.threads);

    // With more than one thread the next frame is read while this one is
    // exported.
    FramesAhead pictures(frames, static_cast<size_t>(s.width) * s.height * 4, s.threads > 1);
    FrameSlot frameSlot{nullptr, s.width, s.height};
    AudioSlot audioSlot{&audio, false};
    keo::host::setFrameSource(host, provideFrame, &frameSlot);
    keo::host::setAudioSource(host, provideAudio, &audioSlot);

    // An exporter entry acquires its suites through SPBasicSuite, so the
    // host's books show them taken and given back.
    exportStdParms* stdParms = keo::host::exporterStdParms(host);
    run.basic = stdParms->getSPBasicSuite();
    ExporterLocalRec& rec = run.rec;
    rec.movFile = &run.movie;
    rec.exportParamSuite =
        run.acquire<PrSDKExportParamSuite>(kPrSDKExportParamSuite, kPrSDKExportParamSuiteVersion);
    rec.ppixSuite = run.acquire<PrSDKPPixSuite>(kPrSDKPPixSuite, kPrSDKPPixSuiteVersion);
    rec.timeSuite = run.acquire<PrSDKTimeSuite>(kPrSDKTimeSuite, kPrSDKTimeSuiteVersion);
    rec.memorySuite = run.acquire<PrSDKMemoryManagerSuite>(kPrSDKMemoryManagerSuite,
                                                           kPrSDKMemoryManagerSuiteVersion);
    rec.sequenceAudioSuite = run.acquire<PrSDKSequenceAudioSuite>(kPrSDKSequenceAudioSuite,
                                                                  kPrSDKSequenceAudioSuiteVersion);
    rec.sequenceRenderSuite = run.acquire<PrSDKSequenceRenderSuite>(
        kPrSDKSequenceRenderSuite, kPrSDKSequenceRenderSuiteVersion);
    rec.audioSuite = run.acquire<PrSDKAudioSuite>(kPrSDKAudioSuite, kPrSDKAudioSuiteVersion);
    exDoExportRec er = keo::host::makeExportRec(host, &rec, 0, 0);
    run.pluginID = er.exporterPluginID;
    if (rec.sequenceRenderSuite->MakeVideoRenderer(er.exporterPluginID, &rec.videoRenderID, tpf) !=
        suiteError_NoError)
        fail("host", "cannot make a video renderer");
    run.rendererMade = true;

    ExportStats stats;
    for (int64_t i = 0;; ++i) {
        frameSlot.rgba = pictures.next();
        if (!frameSlot.rgba)
            break;
        // Frame i starts where a host reading the movie looks for it.
        const PrTime time = frameStartTicks(s.rate, kTicksPerSecond, i);
        er.endTime = frameStartTicks(s.rate, kTicksPerSecond, i + 1);
        auto start = std::chrono::steady_clock::now();
        int r = RenderAndWriteVideoFrame(time, &er);
        stats.encodeSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (r != 0)
            failExport(run, "frame " + std::to_string(i), s.output, r);
        stats.frames = i + 1;
        if (s.onFrameWritten)
            s.onFrameWritten(stats.frames);
    }
    if (stats.frames == 0)
        fail(s.output, "no frames to export");

    if (s.hasAudio) {
        // The sound covers exactly the frames: longer input is cut here,
        // shorter input is padded with silence by the feed.
        int r = RenderAndWriteAllAudio(&er, frameStartTicks(s.rate, kTicksPerSecond, stats.frames));
        if (audioSlot.failed)
            fail(s.inputs.empty() ? "audio" : s.inputs.back(), "the sound could not be read");
        if (r != 0)
            failExport(run, "audio", s.output, r);
    }

    run.releaseAll();
    run.movieOpen = false;
    if (run.movie.close() != 0) {
        if (run.movie.writeErrno != 0)
            failWithErrno(s.output, run.movie.writeErrno);
        fail(s.output, "the movie writer could not finish the movie");
    }
    std::string report = keo::host::leakReport(host);
    if (!report.empty()) {
        for (char& c : report)
            if (c == '\n')
                c = ';';
        fail("exporter", "did not give everything back: " + report);
    }
    commitOutput(run.out);
    return stats;
}

} // namespace keo::lib
