// keo demo: the whole round trip with no input. A moving test picture with a
// tone is exported once per block layout, imported back through the
// plug-in, and compared with what went in.
#include "Commands.h"
#include "Png.h"
#include "Progress.h"
#include "TestPattern.h"
#include "base/PixelOrder.h"
#include "codec/EncoderThreads.h"
#include "container/MovFile.h"
#include "libkeo/AtomicOutput.h"
#include "libkeo/Failure.h"
#include "libkeo/MovieExport.h"
#include "libkeo/PluginResults.h"
#include "libkeo/PluginSession.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace keo::tool {
using namespace keo::lib;
namespace {

struct DemoOptions {
    double seconds = 2;
    int width = 640;
    int height = 360;
    std::string folder;
};

struct Layout {
    const char* name;
    const char* file;
    int optimize;
    bool alpha;
};

const Layout kLayouts[] = {
    {"DXT1", "demo-dxt1.mov", 1, false},
    {"DXT5 + alpha", "demo-dxt5.mov", 0, true},
    {"DXT24", "demo-dxt24.mov", 2, false},
    {"DXT24 + LZF", "demo-dxt24-lzf.mov", 0, false},
};

constexpr int kToneRate = 48000;

struct Result {
    double bytesPerFrame = 0;
    double psnr = 0;
    double encodeMs = 0;
    double decodeMs = 0;
    int64_t audioMismatches = 0;
    int64_t audioFrames = 0;
};

// What the encoder was given: an opaque export is composited onto black by
// the host's render, exactly as the stand-in host rounds it.
void referenceFrame(int64_t i, int w, int h, bool alpha, std::vector<uint8_t>& rgba) {
    renderPattern(i, w, h, rgba.data());
    if (alpha)
        return;
    for (size_t p = 0; p < rgba.size(); p += 4) {
        int a = rgba[p + 3];
        for (int c = 0; c < 3; ++c)
            rgba[p + c] = static_cast<uint8_t>((rgba[p + c] * a + 127) / 255);
        rgba[p + 3] = 255;
    }
}

double averageSampleBytes(const std::string& path) {
    MovFile movie;
    if (!movie.openRead(path.c_str()))
        fail(path, "the movie reader cannot open what was just written");
    double total = 0;
    int n = movie.nFrames();
    for (int i = 0; i < n; ++i)
        total += movie.frameSize(i);
    movie.close();
    return n > 0 ? total / n : 0;
}

Result importBack(PluginSession& session, const std::string& path, const Layout& layout,
                  const DemoOptions& opt, int64_t frames, const std::string& pngPath) {
    Result res;
    openMovie(session, path);
    const MovieInfo& m = session.info;
    if (m.frames != frames || m.width != opt.width || m.height != opt.height)
        fail(path, "the plug-in describes " + std::to_string(m.frames) + " frames of " +
                       std::to_string(m.width) + "x" + std::to_string(m.height) +
                       ", not what was exported");
    std::vector<uint8_t> argb(static_cast<size_t>(m.width) * m.height * 4), rgba(argb.size()),
        ref(argb.size());
    double squared = 0, seconds = 0;
    int64_t compared = 0;
    for (int i = 0; i < m.frames; ++i) {
        auto start = std::chrono::steady_clock::now();
        int r = fetchFrame(session, i, argb.data());
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (r != 0)
            fail(path + ": frame " + std::to_string(i), resultWords(r));
        keo::convertPixels({keo::PixelLayout::ARGB, keo::PixelLayout::RGBA}, argb.data(),
                           size_t(m.width) * 4, rgba.data(), size_t(m.width) * 4, m.width,
                           m.height);
        referenceFrame(i, m.width, m.height, layout.alpha, ref);
        const int channels = layout.alpha ? 4 : 3;
        for (size_t p = 0; p < rgba.size(); p += 4)
            for (int c = 0; c < channels; ++c) {
                double d = static_cast<double>(rgba[p + c]) - ref[p + c];
                squared += d * d;
            }
        compared += static_cast<int64_t>(rgba.size() / 4) * channels;
        if (!pngPath.empty() && i == m.frames / 2)
            writePngFile(pngPath, rgba.data(), m.width, m.height);
    }
    double mse = compared ? squared / compared : 0;
    res.psnr = mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : INFINITY;
    res.decodeMs = seconds * 1000 / m.frames;

    // The tone went through the host's float-to-16-bit conversion on the
    // way in and back to floats on the way out; both are exact, so every
    // sample must come back as the tone rounded to 16 bits.
    const uint32_t block = 4800;
    std::vector<std::vector<float>> planes(m.channels, std::vector<float>(block));
    std::vector<std::vector<float>> tone(m.channels, std::vector<float>(block));
    std::vector<float*> planar, tonePlanar;
    for (int c = 0; c < m.channels; ++c) {
        planar.push_back(planes[c].data());
        tonePlanar.push_back(tone[c].data());
    }
    while (m.hasAudio && res.audioFrames < m.audioFrames) {
        int64_t delivered = 0;
        int r =
            fetchAudio(session, res.audioFrames == 0 ? 0 : -1, block, planar.data(), &delivered);
        if (r != 0 || delivered <= 0)
            fail(path, "audio request at sample frame " + std::to_string(res.audioFrames) + ": " +
                           resultWords(r));
        renderTone(res.audioFrames, static_cast<uint32_t>(delivered), m.channels, kToneRate,
                   tonePlanar.data());
        for (int c = 0; c < m.channels; ++c)
            for (int64_t i = 0; i < delivered; ++i)
                if (planes[c][i] != static_cast<float>(std::round(tone[c][i] * 32768.0) / 32768.0))
                    res.audioMismatches++;
        res.audioFrames += delivered;
    }
    closeMovie(session);
    return res;
}

int runDemo(const DemoOptions& opt, const GlobalOptions& global) {
    // The current folder, as every tool that makes files without being told
    // where: never beside the binary, which may not be the user's to write.
    std::string folder = opt.folder.empty() ? "." : opt.folder;
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
        failWithErrno(folder, errno);
    char resolved[PATH_MAX];
    if (realpath(folder.c_str(), resolved))
        folder = resolved;

    PluginSession session;
    startSession(session, locatePlugin(global.plugin));

    FrameRate rate{25, 1};
    const int64_t frames = std::max<int64_t>(1, std::llround(opt.seconds * 25));
    std::printf("KEO round trip: %lld frames of %dx%d at 25 fps with a 48 kHz stereo tone, "
                "through the exporter and the plug-in (%s)\n\n",
                static_cast<long long>(frames), opt.width, opt.height, session.modulePath.c_str());
    std::printf("%-14s %12s %10s %12s %12s  %s\n", "layout", "bytes/frame", "PSNR dB",
                "encode ms/f", "decode ms/f", "audio");
    std::fflush(stdout);
    const std::string pngPath = folder + "/demo-frame.png";
    for (const Layout& layout : kLayouts) {
        ExportSettings s;
        s.output = folder + "/" + layout.file;
        s.width = opt.width;
        s.height = opt.height;
        s.rate = rate;
        s.alpha = layout.alpha;
        s.optimize = layout.optimize;
        s.threads = KEODefaultEncodeThreads();
        s.hasAudio = true;
        s.channels = 2;
        s.sampleRate = kToneRate;
        s.bits = 16;
        FrameFeed feed = [&](int64_t i, uint8_t* rgba) {
            if (i >= frames)
                return false;
            renderPattern(i, s.width, s.height, rgba);
            return true;
        };
        AudioFeed tone = [](int64_t first, uint32_t count, uint32_t channels, float** planar) {
            renderTone(first, count, channels, kToneRate, planar);
            return true;
        };
        ExportStats stats = exportWithProgress(s, feed, tone, frames, global.quiet);
        Result r = importBack(session, s.output, layout, opt, frames,
                              &layout == &kLayouts[3] ? pngPath : "");
        r.bytesPerFrame = averageSampleBytes(s.output);
        r.encodeMs = stats.encodeSeconds * 1000 / stats.frames;
        char psnr[16];
        std::snprintf(psnr, sizeof psnr, std::isinf(r.psnr) ? "exact" : "%.2f", r.psnr);
        std::string audio = r.audioMismatches == 0
                                ? "exact (" + std::to_string(r.audioFrames) + " sample frames)"
                                : std::to_string(r.audioMismatches) + " samples differ";
        std::printf("%-14s %12.0f %10s %12.2f %12.2f  %s\n", layout.name, r.bytesPerFrame, psnr,
                    r.encodeMs, r.decodeMs, audio.c_str());
        std::fflush(stdout);
        if (r.audioMismatches)
            fail(s.output, "the sound did not come back exactly");
    }
    endSession(session);
    std::printf("\nRaw frames would take %d bytes each. Movies: %s/demo-*.mov\n"
                "Frame %lld as decoded from the DXT24 + LZF movie: %s\n",
                opt.width * opt.height * 4, folder.c_str(), static_cast<long long>(frames / 2),
                pngPath.c_str());
    return kExitOK;
}

} // namespace

void addDemoCommand(CLI::App& app, const GlobalOptions& global, Action& action) {
    auto opt = std::make_shared<DemoOptions>();
    CLI::App* cmd = app.add_subcommand(
        "demo", "Export a test picture in every layout, import it back and report");
    cmd->add_option("--seconds", opt->seconds, "Length of the test movie (default 2)")
        ->check(CLI::Range(0.04, 60.0));
    cmd->add_option("--width", opt->width, "Frame width (default 640)")->check(CLI::Range(1, 4096));
    cmd->add_option("--height", opt->height, "Frame height (default 360)")
        ->check(CLI::Range(1, 4096));
    cmd->add_option("--output-dir,--folder", opt->folder,
                    "Where the movies and the picture go (default: the current folder)");
    cmd->footer("Example:\n  keo demo");
    cmd->callback(
        [opt, &global, &action] { action = [opt, &global] { return runDemo(*opt, global); }; });
}

} // namespace keo::tool
