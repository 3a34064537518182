// keo verify: every frame and all the sound, through the plug-in.
#include "Commands.h"
#include "Progress.h"
#include "libkeo/Failure.h"
#include "libkeo/PluginResults.h"
#include "libkeo/PluginSession.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <vector>

namespace keo::tool {
using namespace keo::lib;
namespace {

struct VerifyOptions {
    std::string movie;
    bool stopOnError = false;
};

constexpr uint32_t kAudioBlock = 4800;

int runVerify(const VerifyOptions& opt, const GlobalOptions& global) {
    PluginSession session;
    startSession(session, locatePlugin(global.plugin));
    openMovie(session, opt.movie);
    const MovieInfo& m = session.info;

    int badFrames = 0;
    std::vector<uint8_t> argb(static_cast<size_t>(m.width) * m.height * 4);
    Progress progress;
    progressStart(progress, "verify", m.frames, global.quiet);
    for (int i = 0; i < m.frames; ++i) {
        int r = fetchFrame(session, i, argb.data());
        if (r != 0) {
            progressPause(progress);
            std::printf("frame %d: %s\n", i, resultWords(r).c_str());
            std::fflush(stdout);
            ++badFrames;
            if (opt.stopOnError)
                break;
        }
        progressStep(progress, i + 1);
    }
    progressEnd(progress);

    int badAudio = 0;
    int64_t audioDone = 0;
    int64_t audioRead = 0; // of those, the ones the plug-in delivered
    if (opt.stopOnError && badFrames > 0) {
        // The sound is not looked at once a frame has stopped the check.
    } else if (m.hasAudio && m.channels > 0 && m.channels <= 64) {
        std::vector<std::vector<float>> planes(m.channels, std::vector<float>(kAudioBlock));
        std::vector<float*> planar;
        for (auto& p : planes)
            planar.push_back(p.data());
        while (audioDone < m.audioFrames) {
            // A failed block is reported and skipped: the next request
            // names its position, so one bad chunk does not hide the rest.
            int64_t delivered = 0;
            bool named = audioDone == 0 || badAudio > 0;
            int r =
                fetchAudio(session, named ? audioDone : -1, kAudioBlock, planar.data(), &delivered);
            if (r != 0) {
                std::printf("audio sample frames %s: %s\n",
                            sampleSpan(audioDone, delivered).c_str(), resultWords(r).c_str());
                ++badAudio;
                if (opt.stopOnError)
                    break;
            } else {
                audioRead += delivered;
            }
            if (delivered <= 0)
                break;
            audioDone += delivered;
        }
    } else if (m.hasAudio) {
        std::printf("audio: the plug-in reports %d channels\n", m.channels);
        ++badAudio;
    }

    const bool ok = badFrames == 0 && badAudio == 0;
    std::printf("verify: %s: %d of %d frames failed, %d audio request(s) failed, %lld audio "
                "sample frames read\n",
                ok ? "ok" : "FAILED", badFrames, m.frames, badAudio,
                static_cast<long long>(audioRead));
    std::fflush(stdout);
    endSession(session);
    return ok ? kExitOK : kExitDamaged;
}

} // namespace

void addVerifyCommand(CLI::App& app, const GlobalOptions& global, Action& action) {
    auto opt = std::make_shared<VerifyOptions>();
    CLI::App* cmd =
        app.add_subcommand("verify", "Fetch every frame and all audio; exit 0 only if all succeed");
    cmd->add_option("MOVIE", opt->movie, "KEO movie (.mov)")->required();
    cmd->add_flag("--stop-on-error", opt->stopOnError, "Stop at the first request that fails");
    cmd->footer("Prints one line per failed request (\"frame 12: ... (error 99)\") and a summary;\n"
                "exit status 3 when any failed.\n\n"
                "Example:\n  keo verify clip.mov");
    cmd->callback(
        [opt, &global, &action] { action = [opt, &global] { return runVerify(*opt, global); }; });
}

} // namespace keo::tool
