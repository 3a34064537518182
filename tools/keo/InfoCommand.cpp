// keo info: what the host learns when it opens a movie.
#include "Commands.h"
#include "Failure.h"
#include "PluginSession.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <memory>

namespace keo::tool {
namespace {

struct InfoOptions {
    std::string movie;
    bool json = false;
};

// Sample rates are floats in the host's record; whole rates print as integers.
std::string rateText(float rate) {
    char buf[32];
    if (std::floor(rate) == rate && std::fabs(rate) < 1e9f)
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(rate));
    else
        std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(rate));
    return buf;
}

void printJson(const MovieInfo& m) {
    std::printf("{\"width\":%d,\"height\":%d,\"depth\":%d,\"alpha\":%d,\"frames\":%d,\"scale\":%d,"
                "\"sampleSize\":%d,\"duration\":%d,\"ticksPerFrame\":%lld,\"audio\":",
                m.width, m.height, m.depth, m.alpha ? 1 : 0, m.frames, m.scale, m.sampleSize,
                m.duration, static_cast<long long>(m.ticksPerFrame));
    if (m.hasAudio)
        std::printf("{\"channels\":%d,\"rate\":%s,\"sampleType\":%d,\"frames\":%lld}}\n",
                    m.channels, rateText(m.sampleRate).c_str(), m.sampleType,
                    static_cast<long long>(m.audioFrames));
    else
        std::printf("null}\n");
}

void printText(const std::string& path, const MovieInfo& m) {
    double fps = static_cast<double>(m.scale) / m.sampleSize;
    std::printf("%s: KEO movie, %dx%d, depth %d, %s\n", path.c_str(), m.width, m.height, m.depth,
                m.alpha ? "with alpha" : "no alpha");
    std::printf("  video: %d frames at %.6g fps (scale %d, sample size %d, duration %d), "
                "%lld host ticks per frame, %.3f s\n",
                m.frames, fps, m.scale, m.sampleSize, m.duration,
                static_cast<long long>(m.ticksPerFrame), m.frames / fps);
    if (!m.hasAudio) {
        std::printf("  audio: none\n");
        return;
    }
    int bits = bitsOfSampleType(m.sampleType);
    std::printf("  audio: %d channel(s), %s Hz, %s (sample type %d), %lld sample frames",
                m.channels, rateText(m.sampleRate).c_str(),
                bits ? (std::to_string(bits) + "-bit integers").c_str() : "unknown sample width",
                m.sampleType, static_cast<long long>(m.audioFrames));
    if (m.sampleRate > 0)
        std::printf(", %.3f s", static_cast<double>(m.audioFrames) / m.sampleRate);
    std::printf("\n");
}

int runInfo(const InfoOptions& opt, const GlobalOptions& global) {
    PluginSession session;
    startSession(session, locatePlugin(global.plugin));
    openMovie(session, opt.movie);
    MovieInfo info = session.info;
    endSession(session);
    if (opt.json)
        printJson(info);
    else
        printText(opt.movie, info);
    return kExitOK;
}

} // namespace

void addInfoCommand(CLI::App& app, const GlobalOptions& global, Action& action) {
    auto opt = std::make_shared<InfoOptions>();
    CLI::App* cmd = app.add_subcommand("info", "Show what the host learns when it opens a movie");
    cmd->add_option("MOVIE", opt->movie, "KEO movie (.mov)")->required();
    cmd->add_flag("--json", opt->json, "One JSON object on one line");
    cmd->footer("Frames is vidDuration / vidSampleSize; ticksPerFrame is host ticks per second\n"
                "x vidSampleSize / vidScale. Exit status 2: the movie is missing or refused.\n\n"
                "Example:\n  keo info clip.mov --json");
    cmd->callback(
        [opt, &global, &action] { action = [opt, &global] { return runInfo(*opt, global); }; });
}

} // namespace keo::tool
