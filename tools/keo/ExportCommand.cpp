// keo export: a KEO movie from still pictures (PNG, TIFF, JPEG), raw frames
// on stdin, any movie GStreamer decodes or the test pattern, with sound from
// a WAV file, the movie's own or the test tone.
#include "Commands.h"
#include "FramePipeline.h"
#include "MovieInput.h"
#include "Progress.h"
#include "StillFrames.h"
#include "Stills.h"
#include "TestPattern.h"
#include "Wav.h"
#include "codec/EncoderThreads.h"
#include "container/MovFile.h"
#include "container/atoms/SampleDescription.h"
#include "libkeo/Failure.h"
#include "libkeo/MovieExport.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <glob.h>
#include <memory>
#include <sys/stat.h>

namespace keo::tool {
using namespace keo::lib;
namespace {

struct ExportOptions {
    std::string output;
    std::string input;
    std::string size;
    std::string fps; // empty: 25, or a movie's own rate
    std::string audio;
    int audioBits = 0;
    bool alpha = false;
    int optimize = 0;
    int threads = 0;
    double pattern = 0;
};

constexpr int kPatternWidth = 640;
constexpr int kPatternHeight = 360;
constexpr int kToneRate = 48000;

bool parseSize(const std::string& text, int* w, int* h) {
    unsigned long a = 0, b = 0;
    char x = 0, extra = 0;
    if (std::sscanf(text.c_str(), "%lu%c%lu%c", &a, &x, &b, &extra) != 3 || (x != 'x' && x != 'X'))
        return false;
    if (a < 1 || b < 1 || a > 32767 || b > 32767)
        return false;
    *w = static_cast<int>(a);
    *h = static_cast<int>(b);
    return true;
}

// The pictures of a folder, or the files a glob pattern names, in natural
// order (frame2 before frame10).
std::vector<std::string> listPictures(const std::string& input) {
    std::vector<std::string> files;
    struct stat st;
    if (stat(input.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        DIR* dir = opendir(input.c_str());
        if (!dir)
            fail(input, std::strerror(errno));
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name[0] != '.' && isStillName(name))
                files.push_back((input.back() == '/' ? input : input + "/") + name);
        }
        closedir(dir);
        if (files.empty())
            fail(input, "holds no .png, .tif, .tiff, .jpg or .jpeg files");
    } else {
        glob_t g;
        int r = glob(input.c_str(), 0, nullptr, &g);
        if (r == 0)
            for (size_t i = 0; i < g.gl_pathc; ++i)
                files.push_back(g.gl_pathv[i]);
        globfree(&g);
        if (files.empty())
            fail(input, "No such file or directory, and no file matches it as a pattern");
    }
    // Numbers by their value, not the locale's collation, so frame2 comes
    // before frame10 the same way on every machine.
    std::sort(files.begin(), files.end(), naturalLess);
    return files;
}

std::string sizeText(int w, int h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

// Says, never silently, what becomes of samples that the movie cannot keep
// as they are, and picks the stored width of float sound.
int storedBits(const WavReader& wav, int requested, const GlobalOptions& global) {
    if (wav.isFloat) {
        int bits = requested ? requested : 24;
        note(global, wav.path + " holds " + std::to_string(wav.fileBits) +
                         "-bit float samples; they are stored as " + std::to_string(bits) +
                         "-bit integers, values beyond full scale clipped" +
                         (requested ? "" : " (--audio-bits chooses the width)"));
        return bits;
    }
    if (wav.bits == 32 && (requested == 0 || requested == 32))
        note(global, wav.path + " holds 32-bit integer samples; the host's sound path is 32-bit "
                                "float, so the low 8 bits of each sample are not kept");
    return requested ? requested : wav.bits;
}

// The stored width of a movie's sound: the decoder's own, as for a WAV file;
// what the movie cannot keep as it is, or what keo changed, is said.
int movieSoundBits(const MovieInputInfo& mi, const std::string& input, int requested,
                   const GlobalOptions& global) {
    if (!mi.soundChange.empty())
        note(global, input + ": for the movie, its sound is " + mi.soundChange);
    if (mi.sourceFloat) {
        int bits = requested ? requested : 24;
        note(global, input + " decodes to float samples; they are stored as " +
                         std::to_string(bits) + "-bit integers" +
                         (requested ? "" : " (--audio-bits chooses the width)"));
        return bits;
    }
    const int bits = mi.sourceBits <= 8    ? 8
                     : mi.sourceBits <= 16 ? 16
                     : mi.sourceBits <= 24 ? 24
                                           : 32;
    if (bits == 32 && (requested == 0 || requested == 32))
        note(global, input + " holds 32-bit integer samples; the host's sound path is 32-bit "
                             "float, so the low 8 bits of each sample are not kept");
    return requested ? requested : bits;
}

// What an export reads, kept alive for the feeds that read it. The
// pictures come from `frames`, which fills the export's buffers, or from
// `pictures`, which lends its own (a movie's decoded frames, stills).
struct ExportInputs {
    std::unique_ptr<MovieInput> movie;
    std::vector<std::string> files;
    std::unique_ptr<StillFrames> stills;
    WavReader wav;
    int64_t expected = 0; // frames, for the progress bar
    FrameFeed frames;
    PictureSource pictures;
    AudioFeed audio;
};

// --pattern SECONDS: the moving test picture, 640x360 unless --size.
void usePattern(const ExportOptions& opt, ExportSettings& s, ExportInputs& in) {
    if (s.width == 0) {
        s.width = kPatternWidth;
        s.height = kPatternHeight;
    }
    const int64_t frames =
        static_cast<int64_t>(std::llround(opt.pattern * s.rate.num / s.rate.den));
    if (frames < 1)
        fail("--pattern", "is shorter than one frame");
    in.expected = frames;
    in.frames = [&s, frames](int64_t i, uint8_t* rgba) {
        if (i >= frames)
            return false;
        renderPattern(i, s.width, s.height, rgba);
        return true;
    };
}

// --input -: raw RGBA frames of --size on standard input.
void useRawInput(ExportSettings& s, ExportInputs& in) {
    s.inputs.push_back("-");
    if (s.width == 0)
        fail("--input -", "raw frames on standard input need --size WxH");
    in.frames = [&s](int64_t i, uint8_t* rgba) {
        const size_t want = static_cast<size_t>(s.width) * s.height * 4;
        size_t got = std::fread(rgba, 1, want, stdin);
        if (got == 0 && std::feof(stdin)) {
            if (i == 0)
                fail("standard input", "ended before its first frame; there is nothing to "
                                       "export");
            return false;
        }
        if (got != want) {
            if (std::ferror(stdin))
                fail("standard input", std::strerror(errno));
            fail("standard input", "ended inside frame " + std::to_string(i) + " (" +
                                       std::to_string(got) + " of " + std::to_string(want) +
                                       " bytes)");
        }
        return true;
    };
}

// A movie GStreamer decodes, at its own size and rate unless told.
void useMovieInput(const ExportOptions& opt, ExportSettings& s, ExportInputs& in) {
    MovieInputRequest request;
    request.input = opt.input;
    request.width = s.width;
    request.height = s.height;
    if (!opt.fps.empty())
        request.rate = s.rate;
    request.wantSound = opt.audio.empty();
    in.movie = std::make_unique<MovieInput>(request);
    s.inputs.push_back(inputPathOf(opt.input));
    s.width = in.movie->info().width;
    s.height = in.movie->info().height;
    s.rate = in.movie->info().rate;
    in.expected = in.movie->info().expectedFrames;
    // GStreamer decodes ahead on its own threads; its frames are lent as
    // they come.
    MovieInput* movie = in.movie.get();
    in.pictures = [movie](int64_t, size_t* pitch) { return movie->lendFrame(pitch); };
}

// Still pictures of a folder or a glob, all of the first one's size. With
// more than one thread, as many files as threads (up to the cores) are
// decoded at once, ahead of the export.
void useStills(const ExportOptions& opt, ExportSettings& s, ExportInputs& in) {
    in.files = listPictures(opt.input);
    s.inputs.insert(s.inputs.end(), in.files.begin(), in.files.end());
    const int workers =
        s.threads > 1 ? std::min(s.threads, FramePipeline::workersForThisMachine()) : 0;
    // The first picture is read here, for the movie's size.
    in.stills = std::make_unique<StillFrames>(in.files, workers);
    StillFrames& stills = *in.stills;
    if (s.width != 0 && (s.width != stills.width() || s.height != stills.height()))
        fail(in.files[0],
             "is " + sizeText(stills.width(), stills.height()) + ", not the --size " + opt.size);
    s.width = stills.width();
    s.height = stills.height();
    in.expected = static_cast<int64_t>(in.files.size());
    in.pictures = [&stills](int64_t i, size_t* pitch) { return stills.lend(i, pitch); };
}

// The sound: --audio's WAV file, else a movie's own, else the pattern's
// tone; none otherwise.
void useSound(const ExportOptions& opt, const GlobalOptions& global, ExportSettings& s,
              ExportInputs& in) {
    if (!opt.audio.empty()) {
        WavReader& wav = in.wav;
        openWav(wav, opt.audio);
        if (!QuicktimeSoundRateFits(wav.rate))
            fail(wav.path, "is at " + std::to_string(wav.rate) +
                               " Hz, which a movie cannot hold (it holds up to 65535 Hz, then "
                               "88200 and 96000 Hz); resample it first");
        s.inputs.push_back(opt.audio);
        s.hasAudio = true;
        s.channels = wav.channels;
        s.sampleRate = wav.rate;
        s.bits = storedBits(wav, opt.audioBits, global);
        in.audio = [&wav](int64_t first, uint32_t count, uint32_t channels, float** planar) {
            return readWavPlanar(wav, first, count, channels, planar);
        };
    } else if (in.movie && in.movie->info().hasSound) {
        const MovieInputInfo& mi = in.movie->info();
        s.hasAudio = true;
        s.channels = mi.channels;
        s.sampleRate = mi.sampleRate;
        s.bits = movieSoundBits(mi, opt.input, opt.audioBits, global);
        MovieInput* movie = in.movie.get();
        in.audio = [movie](int64_t first, uint32_t count, uint32_t channels, float** planar) {
            return movie->readSound(first, count, channels, planar);
        };
    } else if (opt.pattern > 0) {
        s.hasAudio = true;
        s.channels = 2;
        s.sampleRate = kToneRate;
        s.bits = opt.audioBits ? opt.audioBits : 16;
        in.audio = [](int64_t first, uint32_t count, uint32_t channels, float** planar) {
            renderTone(first, count, channels, kToneRate, planar);
            return true;
        };
    } else if (opt.audioBits) {
        fail("--audio-bits", "needs --audio, --pattern or a movie with sound");
    }
}

// "wrote ...": where the movie went and what it holds. The movie itself may
// be on standard output; the line then goes where messages go.
void sayWritten(const ExportSettings& s, const ExportStats& stats) {
    std::FILE* said = s.output == "-" ? stderr : stdout;
    std::fprintf(said, "wrote %s: %lld frames of %dx%d at %s fps%s\n",
                 s.output == "-" ? "standard output" : s.output.c_str(),
                 static_cast<long long>(stats.frames), s.width, s.height,
                 frameRateText(s.rate).c_str(),
                 s.hasAudio ? (", " + std::to_string(s.channels) + " channel(s) of " +
                               std::to_string(s.bits) + "-bit sound at " +
                               std::to_string(s.sampleRate) + " Hz")
                                  .c_str()
                            : "");
}

int runExport(const ExportOptions& opt, const GlobalOptions& global) {
    if (opt.input.empty() == (opt.pattern <= 0))
        fail("export", "give exactly one of --input and --pattern SECONDS");
    ExportSettings s;
    s.output = opt.output;
    std::string why;
    if (!parseFrameRate(opt.fps.empty() ? "25" : opt.fps, &s.rate, &why))
        fail("--fps", why);
    if (!opt.size.empty() && !parseSize(opt.size, &s.width, &s.height))
        fail("--size", "'" + opt.size + "' is not a size like 640x360 (1 to 32767 a side)");
    s.alpha = opt.alpha;
    s.optimize = opt.optimize;
    s.threads = opt.threads > 0 ? opt.threads : KEODefaultEncodeThreads();

    ExportInputs in;
    if (opt.pattern > 0)
        usePattern(opt, s, in);
    else if (opt.input == "-")
        useRawInput(s, in);
    else if (isMovieInput(opt.input))
        useMovieInput(opt, s, in);
    else
        useStills(opt, s, in);
    useSound(opt, global, s, in);

    checkExportSettings(s);
    ExportStats stats =
        in.pictures ? exportWithProgress(s, in.pictures, in.audio, in.expected, global.quiet)
                    : exportWithProgress(s, in.frames, in.audio, in.expected, global.quiet);
    if (in.movie && !in.movie->info().shortEnd.empty())
        note(global, opt.input + ": " + in.movie->info().shortEnd);
    if (!global.quiet)
        sayWritten(s, stats);
    return kExitOK;
}

} // namespace

void addExportCommand(CLI::App& app, const GlobalOptions& global, Action& action) {
    auto opt = std::make_shared<ExportOptions>();
    CLI::App* cmd = app.add_subcommand("export", "Write a KEO movie through the export functions");
    cmd->add_option("-o,--output", opt->output,
                    "Movie to write (.mov); - for standard output when that is a file")
        ->required();
    cmd->add_option("--input", opt->input,
                    "A folder of PNG, TIFF or JPEG files, a glob such as 'shots/*.png' (taken "
                    "in natural order: 2 before 10), - for raw RGBA frames on stdin (needs "
                    "--size), or a movie file or URI that GStreamer decodes (WebM, Ogg, ...: "
                    "its first video and sound, at its own size and rate)");
    cmd->add_option("--size", opt->size,
                    "Frame size WxH (raw input; default 640x360 for --pattern; a movie is "
                    "scaled to it)");
    cmd->add_option("--fps", opt->fps,
                    "Frame rate: 25, 29.97, 30000/1001, ... (default 25, or a movie's own)");
    cmd->add_option("--audio", opt->audio, "WAV file of 1, 2 or 6 channels");
    cmd->add_option("--audio-bits", opt->audioBits,
                    "Stored sample width instead of the WAV's (float WAV: default 24)")
        ->check(CLI::IsMember({8, 16, 24, 32}));
    cmd->add_flag("--alpha", opt->alpha, "Keep transparency (DXT5)");
    cmd->add_option("--optimize", opt->optimize,
                    "0: DXT24 with LZF (default), 1: DXT1, 2: DXT24 without LZF")
        ->check(CLI::Range(0, 2));
    cmd->add_option("--threads", opt->threads,
                    "Encoder threads; above 1, frames are also read ahead, stills decoded on as "
                    "many threads (default: one per CPU)")
        ->check(CLI::Range(1, 32));
    cmd->add_option("--pattern", opt->pattern,
                    "Instead of --input, SECONDS of the built-in moving test picture (with a "
                    "tone unless --audio is given)")
        ->check(CLI::PositiveNumber);
    cmd->footer("Sound longer than the pictures is cut; shorter sound is padded with silence.\n"
                "A movie's frames are placed by their timestamps; one with a variable rate\n"
                "needs --fps. --audio replaces a movie's sound; sound above 96 kHz is\n"
                "resampled. A movie cut short (more than two frames, or an Ogg file\n"
                "without its end) is refused.\n"
                "An existing movie is replaced only when the new one is complete; a symbolic\n"
                "link is written through; devices are written in place, never replaced.\n\n"
                "Examples:\n  keo export --pattern 2 -o test.mov\n"
                "  keo export --input 'shots/*.png' --fps 29.97 --audio mix.wav -o shots.mov\n"
                "  keo export --input holiday.webm -o holiday.mov\n"
                "  keo decode a.mov --format rgba -o - | keo export --input - --size 640x360 "
                "-o copy.mov");
    cmd->callback(
        [opt, &global, &action] { action = [opt, &global] { return runExport(*opt, global); }; });
}

} // namespace keo::tool
