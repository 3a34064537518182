// Fuzz target: the importer entry end to end, driven by the stand-in host.
//
// The importer is linked in as its static library together with its entry
// (importer/ImporterEntry.cpp) rather than loaded as the module: the module
// is linked with --no-undefined, which a sanitizer runtime that lives in the
// executable cannot satisfy, and libFuzzer needs the coverage of code it
// links itself. The plug-in driver takes the linked entry instead of a
// loaded one, so the call sequence is keo's and the tests' all the same.
//
// Each input is written to a temporary file of its own (imOpenFile8 takes a
// path) and goes through init, open, info, every frame (up to a cap), frames
// outside the movie, audio from the start, continuation requests (position
// -1) and a request past the end, quiet, a reopen, and close. A fresh host
// per input must get back everything it handed out.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "PluginDriver.h"
#include "StandInHost.h"
#include "fuzz/FuzzSupport.h"

extern "C" int32_t xImportEntry(int32_t selector, imStdParms* stdParms, void* param1, void* param2);

namespace {

using keo::host::StandInHost;

constexpr int kMaxFrames = 32;
constexpr int64_t kPixelBudget = int64_t{1} << 22;

// The driver's session and the checks every request's answer must pass.
struct Session {
    keo::host::ImporterSession importer;

    void frame(PrTime time, int32_t width, int32_t height) {
        imFrameFormat format{width, height, PrPixelFormat_ARGB_4444_8u};
        PPixHand out = nullptr;
        int32_t result = keo::host::requestFrame(&importer, time, &format, &out);
        KEO_FUZZ_CHECK(result == 0 || result == imFrameOrAudioErr);
        KEO_FUZZ_CHECK((result == 0) == (out != nullptr));
        if (out)
            keo::host::hostSuites(importer.host).ppix->Dispose(out);
    }

    void audio(PrAudioSample position, uint32_t size, int channels) {
        std::vector<std::vector<float>> buffers(static_cast<size_t>(channels),
                                                std::vector<float>(size));
        std::vector<float*> pointers;
        for (auto& b : buffers)
            pointers.push_back(b.data());
        int32_t result = keo::host::readAudio(&importer, position, size, pointers.data());
        KEO_FUZZ_CHECK(result == 0 || result == imFrameOrAudioErr);
    }
};

void exercise(Session& s, const imFileInfoRec8& info) {
    if (info.hasVideo && info.vidScale > 0 && info.vidSampleSize > 0) {
        // The middle of each frame, so that rounding of the frame duration
        // cannot move a request into the neighbouring frame.
        const double ticks =
            static_cast<double>(keo::host::kTicksPerSecond) * info.vidSampleSize / info.vidScale;
        const int64_t frames = info.vidDuration / info.vidSampleSize;
        const int32_t w = info.vidInfo.imageWidth, h = info.vidInfo.imageHeight;
        // Every request costs the picture's size (the host fills each new
        // frame, the decoder writes every pixel), so the whole input has one
        // budget of pixels: large pictures get fewer requests, and those
        // beyond what a second can fill under the sanitizers on a busy
        // machine none: the host may create them, the time limit could not
        // tell that from a hang.
        const int64_t pixels = static_cast<int64_t>(w) * h;
        // One frame is kept back for the request after the reopen.
        int64_t cap = pixels > 0 ? kPixelBudget / pixels - 1 : kMaxFrames;
        cap = cap > kMaxFrames ? kMaxFrames : cap;
        if (ticks >= 1 && ticks < 1e15) {
            for (int64_t f = 0; f < frames && f < cap; f++)
                s.frame(static_cast<PrTime>((f + 0.5) * ticks), w, h);
            // Well outside the movie on both sides: the host's own frame
            // duration may be a rounding of `ticks`, and a time just before
            // 0 is frame 0 (times are cut toward zero), which the budget
            // has not paid for.
            s.frame(static_cast<PrTime>(-1.5 * ticks), w, h);
            s.frame(static_cast<PrTime>((frames + 0.5) * ticks), w, h);
        }
        s.frame(0, w + 4, h);
        s.frame(INT64_MAX, w, h);
    }
    if (info.hasAudio && info.audInfo.numChannels > 0 && info.audInfo.numChannels <= 16) {
        const int ch = info.audInfo.numChannels;
        s.audio(0, 1000, ch);
        s.audio(-1, 1000, ch); // continues after the last request
        s.audio(-1, 1, ch);
        s.audio(info.audDuration > 0 ? info.audDuration - 1 : 0, 10, ch);
        s.audio(info.audDuration, 1, ch);
        s.audio(0, 0, ch);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/keo_fuzz_XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0)
        return 0;
    size_t written = 0;
    while (written < size) {
        ssize_t n = write(fd, data + written, size - written);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    close(fd);
    if (written != size) {
        unlink(path.c_str());
        return 0;
    }

    keo::host::StandInHost* host = keo::host::createHost();
    KEO_FUZZ_CHECK(host != nullptr);
    Session s;
    keo::host::startImporter(&s.importer, xImportEntry, host);

    int32_t opened = keo::host::openFile(&s.importer, path);
    KEO_FUZZ_CHECK(opened == 0 || opened == imBadFile);
    if (opened == 0) {
        int32_t described = keo::host::describeFile(&s.importer);
        KEO_FUZZ_CHECK(described == 0 || described == imBadFile);
        if (described == 0) {
            const imFileInfoRec8 info = s.importer.info;
            exercise(s, info);
            // Quiet closes the movie; the record stays and a reopen serves again.
            KEO_FUZZ_CHECK(keo::host::quietFile(&s.importer) == 0);
            const int32_t w = info.vidInfo.imageWidth, h = info.vidInfo.imageHeight;
            if (keo::host::openFile(&s.importer, path) == 0 &&
                static_cast<int64_t>(w) * h <= kPixelBudget)
                s.frame(0, w, h);
        }
    }
    KEO_FUZZ_CHECK(keo::host::closeFile(&s.importer) == 0);
    const std::string leaks = keo::host::leakReport(host);
    if (!leaks.empty()) {
        std::fprintf(stderr, "host leak report:\n%s\n", leaks.c_str());
        std::abort();
    }
    keo::host::destroyHost(host);
    unlink(path.c_str());
    return 0;
}
