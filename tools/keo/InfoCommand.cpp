// keo info: what the host learns when it opens a movie, and what an editor
// looks for first (length, rate, data rate, how the frames are stored).
//
// The text and --json carry the same fields. The JSON keeps the fields of
// earlier versions with their meanings (width ... ticksPerFrame, audio with
// channels, rate, sampleType and frames) and adds the rest beside them.
#include "Commands.h"
#include "Failure.h"
#include "InfoJson.h"
#include "MovieSurvey.h"
#include "PluginSession.h"
#include "Timecode.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <numeric>

namespace keo::tool {
namespace {

struct InfoOptions {
    std::string movie;
    bool json = false;
};

// Sample rates are floats in the host's record; whole rates print as integers.
std::string rateText(double rate) {
    char buf[32];
    if (std::floor(rate) == rate && std::fabs(rate) < 1e15)
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(rate));
    else
        std::snprintf(buf, sizeof buf, "%.9g", rate);
    return buf;
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

const char* channelLayout(int channels) {
    switch (channels) {
    case 1:
        return "mono";
    case 2:
        return "stereo";
    case 6:
        return "5.1";
    default:
        return "discrete";
    }
}

// Everything info reports, worked out once for both forms.
struct Facts {
    MovieInfo m;
    MovieSurvey survey;
    bool surveyed = false;
    int64_t rateNum = 0, rateDen = 1; // frames per second, in lowest terms
    double fps = 0;
    double seconds = 0;
    std::string timecode;
    int64_t dataRate = 0;      // bits per second of the whole file
    int64_t videoDataRate = 0; // bits per second of the video samples
    int bits = 0;
    double audioSeconds = 0;
};

Facts gather(const std::string& path, const MovieInfo& m) {
    Facts f;
    f.m = m;
    const int64_t g = std::gcd(static_cast<int64_t>(m.scale), static_cast<int64_t>(m.sampleSize));
    f.rateNum = m.scale / g;
    f.rateDen = m.sampleSize / g;
    f.fps = static_cast<double>(m.scale) / m.sampleSize;
    f.seconds = static_cast<double>(m.frames) * m.sampleSize / m.scale;
    f.timecode = timecodeOf(m.frames, f.rateNum, f.rateDen);
    f.surveyed = surveyMovie(path, &f.survey);
    if (f.seconds > 0) {
        f.dataRate = std::llround(f.survey.fileBytes * 8.0 / f.seconds);
        f.videoDataRate = std::llround(f.survey.videoBytes * 8.0 / f.seconds);
    }
    f.bits = bitsOfSampleType(m.sampleType);
    if (m.hasAudio && m.sampleRate > 0)
        f.audioSeconds = static_cast<double>(m.audioFrames) / m.sampleRate;
    return f;
}

std::string byteOrderOf(const std::string& format) {
    if (format == "sowt")
        return "little-endian";
    if (format == "twos")
        return "big-endian";
    return "";
}

void printJson(std::FILE* out, const std::string& path, const Facts& f) {
    const MovieInfo& m = f.m;
    std::fprintf(out,
                 "{\"width\":%d,\"height\":%d,\"depth\":%d,\"alpha\":%d,\"frames\":%d,\"scale\":%d,"
                 "\"sampleSize\":%d,\"duration\":%d,\"ticksPerFrame\":%lld,",
                 m.width, m.height, m.depth, m.alpha ? 1 : 0, m.frames, m.scale, m.sampleSize,
                 m.duration, static_cast<long long>(m.ticksPerFrame));
    std::fprintf(out,
                 "\"file\":%s,\"frameRate\":\"%lld/%lld\",\"fps\":%.6g,\"seconds\":%.6f,"
                 "\"timecode\":%s,\"fileBytes\":%lld,\"dataRate\":%lld,\"videoDataRate\":%lld,"
                 "\"layouts\":[",
                 jsonString(path).c_str(), static_cast<long long>(f.rateNum),
                 static_cast<long long>(f.rateDen), f.fps, f.seconds,
                 jsonString(f.timecode).c_str(), static_cast<long long>(f.survey.fileBytes),
                 static_cast<long long>(f.dataRate), static_cast<long long>(f.videoDataRate));
    bool first = true;
    for (int layout = 0; layout < kLayoutCount; ++layout)
        for (int lzf = 0; lzf < 2; ++lzf)
            if (f.survey.frames[layout][lzf] > 0) {
                std::fprintf(out, "%s{\"layout\":\"%s\",\"lzf\":%s,\"frames\":%lld}",
                             first ? "" : ",", layoutName(layout), lzf ? "true" : "false",
                             static_cast<long long>(f.survey.frames[layout][lzf]));
                first = false;
            }
    std::fprintf(out, "],\"unreadableHeaders\":%lld,\"audio\":",
                 static_cast<long long>(f.survey.unreadable));
    if (!m.hasAudio) {
        std::fprintf(out, "null}\n");
        return;
    }
    std::fprintf(out,
                 "{\"channels\":%d,\"rate\":%s,\"sampleType\":%d,\"frames\":%lld,\"bits\":%d,"
                 "\"layout\":\"%s\",\"format\":%s,\"byteOrder\":%s,\"seconds\":%.6f}}\n",
                 m.channels, rateText(m.sampleRate).c_str(), m.sampleType,
                 static_cast<long long>(m.audioFrames), f.bits, channelLayout(m.channels),
                 jsonString(f.survey.audioFormat).c_str(),
                 jsonString(byteOrderOf(f.survey.audioFormat)).c_str(), f.audioSeconds);
}

std::string megabits(int64_t bitsPerSecond) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f Mbit/s", bitsPerSecond / 1e6);
    return buf;
}

void printText(const std::string& path, const Facts& f) {
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
    for (int layout = 0; layout < kLayoutCount; ++layout)
        for (int lzf = 0; lzf < 2; ++lzf)
            if (f.survey.frames[layout][lzf] > 0) {
                std::printf("%s %s%s: %lld frames", any ? "," : "", layoutName(layout),
                            lzf ? " with LZF" : "",
                            static_cast<long long>(f.survey.frames[layout][lzf]));
                any = true;
            }
    if (f.survey.unreadable > 0)
        std::printf("%s %lld frames whose header cannot be read or is not valid", any ? "," : "",
                    static_cast<long long>(f.survey.unreadable));
    else if (!any)
        std::printf(" unknown");
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
    Facts facts = gather(opt.movie, info);
    if (opt.json)
        printJson(stdout, opt.movie, facts);
    else
        printText(opt.movie, facts);
    return kExitOK;
}

} // namespace

std::string infoJson(const std::string& path, const MovieInfo& info) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    if (!out)
        throw std::bad_alloc();
    printJson(out, path, gather(path, info));
    std::fclose(out);
    std::string json(text, size);
    std::free(text);
    return json;
}

void addInfoCommand(CLI::App& app, const GlobalOptions& global, Action& action) {
    auto opt = std::make_shared<InfoOptions>();
    CLI::App* cmd = app.add_subcommand("info", "Show what the host learns when it opens a movie");
    cmd->add_option("MOVIE", opt->movie, "KEO movie (.mov)")->required();
    cmd->add_flag("--json", opt->json, "The same fields as one JSON object on one line");
    cmd->footer("Frames is vidDuration / vidSampleSize; ticksPerFrame is host ticks per second\n"
                "x vidSampleSize / vidScale, to the nearest tick. Layouts count the frames of\n"
                "each block layout from their headers; a header the decoder refuses counts as\n"
                "unreadable. Exit status 2: the movie is missing, unreadable or refused.\n\n"
                "Example:\n  keo info clip.mov --json");
    cmd->callback(
        [opt, &global, &action] { action = [opt, &global] { return runInfo(*opt, global); }; });
}

} // namespace keo::tool
