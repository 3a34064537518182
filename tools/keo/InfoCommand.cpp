// keo info: what the host learns when it opens a movie, and what an editor
// looks for first (length, rate, data rate, how the frames are stored).
//
// The text and --json carry the same fields (InfoFacts).
#include "Commands.h"
#include "libkeo/Failure.h"
#include "libkeo/InfoFacts.h"
#include "libkeo/MovieSurvey.h"
#include "libkeo/PluginSession.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace keo::tool {
using namespace keo::lib;
namespace {

struct InfoOptions {
    std::string movie;
    bool json = false;
};

std::string megabits(int64_t bitsPerSecond) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f Mbit/s", bitsPerSecond / 1e6);
    return buf;
}

// One line per track that has an edit list: each edit's length on the
// movie's timeline and where in the media it starts.
void printEdits(const std::vector<MovieEdit>& edits) {
    std::printf("\n  edits:     ");
    if (edits.empty()) {
        std::printf(" none");
        return;
    }
    const char* track = nullptr;
    for (const MovieEdit& e : edits) {
        const bool first = !track || std::strcmp(track, e.track) != 0;
        if (first)
            std::printf("%s %s:", track ? "\n             " : "", e.track);
        track = e.track;
        std::printf("%s %.3f s ", first ? "" : ",", e.seconds);
        if (e.empty())
            std::printf("empty");
        else
            std::printf("from media %.3f s%s", e.mediaSeconds,
                        e.rate == 1.0 ? "" : (" at " + rateText(e.rate) + "x").c_str());
    }
}

void printText(const std::string& path, const InfoFacts& f) {
    const MovieInfo& m = f.m;
    std::printf("%s: KEO movie\n", path.c_str());
    std::printf("  size:       %dx%d, depth %d, %s\n", m.width, m.height, m.depth,
                m.alpha ? "with alpha" : "no alpha");
    std::printf("  frames:     %d\n", m.frames);
    std::printf("  frame rate: %.6g fps (%lld/%lld)\n", f.fps, static_cast<long long>(f.rateNum),
                static_cast<long long>(f.rateDen));
    std::printf("  duration:   %.3f s, timecode %s\n", f.seconds, f.timecode.c_str());
    std::printf("  data rate:  %s (video %s), %lld bytes\n", megabits(f.dataRate).c_str(),
                megabits(f.videoDataRate).c_str(), static_cast<long long>(f.survey.fileBytes));
    std::printf("  layouts:   ");
    bool any = false;
    for (int layout = 0; layout < kKEOLayoutCount; ++layout)
        for (int lzf = 0; lzf < 2; ++lzf)
            if (f.survey.frames[layout][lzf] > 0) {
                std::printf("%s %s%s: %lld frames", any ? "," : "",
                            KEOLayoutName(static_cast<KEOBlockLayout>(layout)),
                            lzf ? " with LZF" : "",
                            static_cast<long long>(f.survey.frames[layout][lzf]));
                any = true;
            }
    if (f.survey.unreadable > 0)
        std::printf("%s %lld frames whose header cannot be read or is not valid", any ? "," : "",
                    static_cast<long long>(f.survey.unreadable));
    else if (!any)
        std::printf(" unknown");
    printEdits(f.survey.edits.edits);
    std::printf("\n  host:       scale %d, sample size %d, duration %d, %lld ticks per frame\n",
                m.scale, m.sampleSize, m.duration, static_cast<long long>(m.ticksPerFrame));
    if (!m.hasAudio) {
        std::printf("  audio:      none\n");
        return;
    }
    std::string order = byteOrderOf(f.survey.audioFormat);
    std::printf("  audio:      %s (%d channel%s), %s Hz, %s%s%s (sample type %d), %lld sample "
                "frames, %.3f s\n",
                channelLayout(m.channels), m.channels, m.channels == 1 ? "" : "s",
                rateText(m.sampleRate).c_str(),
                f.bits ? (std::to_string(f.bits) + "-bit integers").c_str() : "unknown width",
                order.empty() ? "" : (" " + order).c_str(),
                f.survey.audioFormat.empty() ? "" : (" '" + f.survey.audioFormat + "'").c_str(),
                m.sampleType, static_cast<long long>(m.audioFrames), f.audioSeconds);
}

int runInfo(const InfoOptions& opt, const GlobalOptions& global) {
    PluginSession session;
    startSession(session, locatePlugin(global.plugin));
    openMovie(session, opt.movie);
    MovieInfo info = session.info;
    endSession(session);
    InfoFacts facts = gatherInfo(opt.movie, info);
    for (const std::string& text : facts.survey.edits.notes)
        note(global, opt.movie + ": " + text);
    if (opt.json)
        printInfoJson(stdout, opt.movie, facts);
    else
        printText(opt.movie, facts);
    return kExitOK;
}

} // namespace

void addInfoCommand(CLI::App& app, const GlobalOptions& global, Action& action) {
    auto opt = std::make_shared<InfoOptions>();
    CLI::App* cmd = app.add_subcommand("info", "Show what the host learns when it opens a movie");
    cmd->add_option("MOVIE", opt->movie, "KEO movie (.mov)")->required();
    cmd->add_flag("--json", opt->json, "The same fields as one JSON object on one line");
    cmd->footer("Frames is vidDuration / vidSampleSize; ticksPerFrame is host ticks per second\n"
                "x vidSampleSize / vidScale, to the nearest tick. Layouts count the frames of\n"
                "each block layout from their headers; a header the decoder refuses counts as\n"
                "unreadable. Edits are the edit lists of the video and sound tracks, which\n"
                "the host and keo do not follow; where a player would show the movie\n"
                "otherwise, a note on stderr says so. Exit status 2: the movie is missing,\n"
                "unreadable or refused.\n\n"
                "Example:\n  keo info clip.mov --json");
    cmd->callback(
        [opt, &global, &action] { action = [opt, &global] { return runInfo(*opt, global); }; });
}

} // namespace keo::tool
