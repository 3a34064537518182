// The export driver: the host's part, played by the stand-in host, around
// the exporter entry's calls (exporter/ExportSession.h).
#include "libkeo/MovieExport.h"

#include "StandInHost.h"
#include "container/MovFile.h"
#include "container/atoms/SampleDescription.h"
#include "exporter/ExportRender.h"
#include "exporter/ExportSession.h"
#include "libkeo/AtomicOutput.h"
#include "libkeo/Failure.h"
#include "libkeo/FramesAhead.h"

#include <chrono>
#include <memory>
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

// What the host's frame lender hands over: the picture the source lent for
// the frame being rendered, where it lies.
struct FrameSlot {
    const uint8_t* rgba = nullptr;
    size_t pitch = 0;
    int width = 0;
    int height = 0;
};

extern "C" const uint8_t* lendFrame(void* context, PrTime, int32_t width, int32_t height,
                                    size_t* pitch) {
    auto* slot = static_cast<FrameSlot*>(context);
    if (!slot->rgba || width != slot->width || height != slot->height)
        return nullptr;
    *pitch = slot->pitch;
    return slot->rgba;
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

// Everything taken during an export, given back on every path: the
// exporter's part first, while the host that served it is still there.
struct ExportRun {
    AtomicOutput out;
    keo::host::StandInHost* host = nullptr;
    exDoExportRec record{};

    ~ExportRun() {
        if (host)
            KEOExportEnd(&record, nullptr);
        keo::host::destroyHost(host);
    }
};

// The movie writer keeps the system's reason for a write that failed; that
// names the fault better than the export's own result ("No space left on
// device" rather than "the movie file could not be written").
[[noreturn]] void failExport(const ExportRun& run, const std::string& subject,
                             const std::string& output, int result) {
    if (const int err = KEOExportWriteErrno(&run.record))
        failWithErrno(output, err);
    fail(subject, KEOExportResultText(result));
}

// The host of the export, with the settings as its export parameters.
void startHost(ExportRun& run, const ExportSettings& s) {
    using namespace keo::host;
    // Every pixel of a rendered frame is written by the render itself; a
    // paint first would cost as much again.
    HostConfig config;
    config.paintNewFrames = false;
    run.host = createHost(config);
    if (!run.host)
        fail("host", "cannot create the stand-in host");
    StandInHost* host = run.host;
    setParamInt(host, "ADBEVideoWidth", s.width);
    setParamInt(host, "ADBEVideoHeight", s.height);
    setParamTime(host, "ADBEVideoFPS", ticksPerFrame(s.rate, kTicksPerSecond));
    setParamFloat(host, "ADBEAudioRatePerSecond", s.hasAudio ? s.sampleRate : 48000);
    setParamInt(host, "ADBEAudioNumChannels",
                s.hasAudio ? channelTypeOf(s.channels) : kPrAudioChannelType_Stereo);
    setParamInt(host, "ADBEAudioSampleType",
                s.hasAudio ? sampleTypeOf(s.bits) : kPrAudioSampleType_16BitInt);
    setParamInt(host, "KEOTransparency", s.alpha ? 1 : 0);
    setParamInt(host, "KEOOptimizeFor", s.optimize);
    setParamInt(host, "KEOEncodeThreads", s.threads);
    run.record = makeExportRec(host, nullptr, 0, 0);
    run.record.exportAudio = s.hasAudio ? 1 : 0;
}

// The exporter entry's begin: the movie under the output's temporary name,
// the suites and the renderer.
void beginExport(ExportRun& run, const ExportSettings& s) {
    // The movie holds the rate exactly; the host sees it as ticks per frame
    // ("ADBEVideoFPS"), rounded where the ticks do not divide.
    const KEOExportMovie movie{run.out.writePath.c_str(), s.rate};
    int err = 0;
    const int r = KEOExportBegin(keo::host::exporterStdParms(run.host), &run.record, movie, &err);
    if (r == kKEOExportWriteFailed) {
        if (err != 0)
            failWithErrno(s.output, err);
        fail(s.output, "the movie writer cannot create the movie");
    }
    if (r != 0)
        fail(r == kKEOExportHostFailed ? "host" : "exporter", KEOExportResultText(r));
}

// Renders, encodes and writes every frame the source has.
void exportFrames(ExportRun& run, const ExportSettings& s, const PictureSource& pictures,
                  ExportStats& stats) {
    FrameSlot slot{nullptr, 0, s.width, s.height};
    keo::host::setFrameLender(run.host, lendFrame, &slot);
    const size_t packed = static_cast<size_t>(s.width) * 4;
    for (int64_t i = 0;; ++i) {
        slot.pitch = packed;
        slot.rgba = pictures(i, &slot.pitch);
        if (!slot.rgba)
            break;
        if (slot.pitch < packed)
            fail("frame " + std::to_string(i), "its rows are shorter than the frame's width");
        // Frame i starts where a host reading the movie looks for it.
        const PrTime time = frameStartTicks(s.rate, kTicksPerSecond, i);
        run.record.endTime = frameStartTicks(s.rate, kTicksPerSecond, i + 1);
        auto start = std::chrono::steady_clock::now();
        const int r = KEOExportFrame(&run.record, time);
        stats.encodeSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (r != 0)
            failExport(run, "frame " + std::to_string(i), s.output, r);
        stats.frames = i + 1;
        if (s.onFrameWritten)
            s.onFrameWritten(stats.frames);
    }
    // The source takes its pictures back after the last one.
    keo::host::setFrameLender(run.host, nullptr, nullptr);
}

// The sound covers exactly the frames: longer input is cut here, shorter
// input is padded with silence by the feed.
void exportSound(ExportRun& run, const ExportSettings& s, const AudioFeed& audio, int64_t frames) {
    AudioSlot slot{&audio, false};
    keo::host::setAudioSource(run.host, provideAudio, &slot);
    const int r = KEOExportAudio(&run.record, frameStartTicks(s.rate, kTicksPerSecond, frames));
    if (slot.failed)
        fail(s.inputs.empty() ? "audio" : s.inputs.back(), "the sound could not be read");
    if (r != 0)
        failExport(run, "audio", s.output, r);
}

// The exporter entry's end, then the host's books: the movie is kept only
// when it is whole and everything given out came back.
void finishExport(ExportRun& run, const ExportSettings& s) {
    int err = 0;
    if (KEOExportEnd(&run.record, &err) != 0) {
        if (err != 0)
            failWithErrno(s.output, err);
        fail(s.output, "the movie writer could not finish the movie");
    }
    std::string report = keo::host::leakReport(run.host);
    if (!report.empty()) {
        for (char& c : report)
            if (c == '\n')
                c = ';';
        fail("exporter", "did not give everything back: " + report);
    }
    commitOutput(run.out);
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
    // Said here, before the writer would refuse it as a movie it cannot create.
    if (!QuicktimeSoundRateFits(s.sampleRate))
        fail("audio", "a sample rate of " + std::to_string(s.sampleRate) +
                          " Hz cannot be stored in a movie, which holds rates up to 65535 Hz, "
                          "88200 and 96000 Hz");
}

ExportStats exportMovie(const ExportSettings& s, const PictureSource& pictures,
                        const AudioFeed& audio) {
    checkExportSettings(s);
    if (s.keepFreedMemory)
        keepFreedFrameMemory();
    ExportRun run;
    beginOutput(run.out, s.output, OutputUse::Seek, s.inputs);
    startHost(run, s);
    beginExport(run, s);
    ExportStats stats;
    exportFrames(run, s, pictures, stats);
    if (stats.frames == 0)
        fail(s.output, "no frames to export");
    if (s.hasAudio)
        exportSound(run, s, audio, stats.frames);
    finishExport(run, s);
    return stats;
}

ExportStats exportMovie(const ExportSettings& s, const FrameFeed& frames, const AudioFeed& audio) {
    // The frames are read from the first one the export asks for, once the
    // output is open and the settings are known good: a reader started
    // before would read an input that a refused output never needed (and
    // wait on a pipe that has nothing to give). With more than one thread
    // the next frame is read while this one is exported.
    std::unique_ptr<FramesAhead> ahead;
    const PictureSource pictures = [&](int64_t, size_t*) -> const uint8_t* {
        if (!ahead)
            ahead = std::make_unique<FramesAhead>(
                frames, static_cast<size_t>(s.width) * s.height * 4, s.threads > 1);
        return ahead->next();
    };
    return exportMovie(s, pictures, audio);
}

} // namespace keo::lib
