// keo audio: the whole sound of a movie, requested as a playing host does,
// or with --pcm the integers as they are stored.
#include "Commands.h"
#include "Wav.h"
#include "libkeo/Failure.h"
#include "libkeo/PluginResults.h"
#include "libkeo/PluginSession.h"
#include "libkeo/StoredSound.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace keo::tool {
using namespace keo::lib;
namespace {

struct AudioOptions {
    std::string movie;
    std::string output;
    bool pcm = false;
    uint32_t block = 4800;
};

// --pcm: the stored integers, read with the container (StoredSound), after
// the plug-in has opened the movie as a host would.
void writeStoredSound(const AudioOptions& opt, WavWriter& wav) {
    StoredSound sound(opt.movie);
    createWav(wav, opt.output, sound.channels(), sound.rate(), sound.bits(), {opt.movie});
    std::vector<int32_t> samples(static_cast<size_t>(opt.block) * sound.channels());
    for (int64_t done = 0; done < sound.frames();) {
        const int64_t n = std::min<int64_t>(opt.block, sound.frames() - done);
        sound.read(done, n, samples.data());
        writeWavPcm(wav, samples.data(), n);
        done += n;
    }
}

// The host's floats, requested as a playing host does.
void writeHostSound(const AudioOptions& opt, PluginSession& session, WavWriter& wav) {
    const MovieInfo& m = session.info;
    const int rate = static_cast<int>(std::lround(m.sampleRate));
    if (rate < 1)
        fail(opt.movie, "the plug-in reports a sample rate of " + std::to_string(m.sampleRate));
    createWav(wav, opt.output, m.channels, rate, 0, {opt.movie});
    const uint32_t ch = static_cast<uint32_t>(m.channels);
    std::vector<std::vector<float>> planes(ch, std::vector<float>(opt.block));
    std::vector<float*> planar(ch);
    for (uint32_t c = 0; c < ch; ++c)
        planar[c] = planes[c].data();
    std::vector<float> interleaved(static_cast<size_t>(opt.block) * ch);
    int64_t done = 0;
    while (done < m.audioFrames) {
        // The first request names its position; the rest continue, as
        // during playback.
        int64_t delivered = 0;
        int r = fetchAudio(session, done == 0 ? 0 : -1, opt.block, planar.data(), &delivered);
        if (r != 0)
            fail("audio sample frames " + sampleSpan(done, delivered), resultWords(r),
                 kExitDamaged);
        if (delivered <= 0)
            fail("audio at sample frame " + std::to_string(done), "the plug-in delivered nothing");
        for (int64_t i = 0; i < delivered; ++i)
            for (uint32_t c = 0; c < ch; ++c)
                interleaved[static_cast<size_t>(i) * ch + c] = planes[c][i];
        writeWavFloat(wav, interleaved.data(), delivered);
        done += delivered;
    }
}

int runAudio(const AudioOptions& opt, const GlobalOptions& global) {
    PluginSession session;
    startSession(session, locatePlugin(global.plugin));
    openMovie(session, opt.movie);
    const MovieInfo& m = session.info;
    if (!m.hasAudio)
        fail(opt.movie, "has no audio");
    if (m.channels < 1 || m.channels > 64)
        fail(opt.movie, "the plug-in reports " + std::to_string(m.channels) + " audio channels");
    WavWriter wav;
    if (opt.pcm)
        writeStoredSound(opt, wav);
    else
        writeHostSound(opt, session, wav);
    endSession(session);
    finishWav(wav);
    return kExitOK;
}

} // namespace

void addAudioCommand(CLI::App& app, const GlobalOptions& global, Action& action) {
    auto opt = std::make_shared<AudioOptions>();
    CLI::App* cmd = app.add_subcommand("audio", "Write a movie's sound to a WAV file");
    cmd->add_option("MOVIE", opt->movie, "KEO movie (.mov)")->required();
    cmd->add_option("-o,--output", opt->output,
                    "WAV file to write, or - for standard output when that is a file")
        ->required();
    cmd->add_flag("--pcm", opt->pcm,
                  "The stored integers, read from the file at their own width, instead of the "
                  "host's 32-bit floats");
    cmd->add_option("--block", opt->block, "Sample frames per request (default 4800)")
        ->check(CLI::Range(1u, 1u << 24));
    cmd->footer("Example:\n  keo audio clip.mov -o clip.wav --pcm");
    cmd->callback(
        [opt, &global, &action] { action = [opt, &global] { return runAudio(*opt, global); }; });
}

} // namespace keo::tool
