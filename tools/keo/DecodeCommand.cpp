// keo decode: frames as the host receives them, to PNG or raw bytes.
#include "AtomicOutput.h"
#include "Commands.h"
#include "Failure.h"
#include "PluginSession.h"
#include "Png.h"
#include "Progress.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace keo::tool {
namespace {

struct DecodeOptions {
    std::string movie;
    int frame = -1;
    std::string frames; // "A:B"
    std::string format = "png";
    std::string output;
};

struct FrameRange {
    int first;
    int end; // one past the last
};

int parseBound(const std::string& text, int fallback) {
    if (text.empty())
        return fallback;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v < 0 || v > 0x7FFFFFFF)
        fail("--frames", "'" + text + "' is not a frame number");
    return static_cast<int>(v);
}

FrameRange chooseFrames(const DecodeOptions& opt, int frames) {
    FrameRange r{0, frames};
    if (opt.frame >= 0) {
        if (opt.frame >= frames)
            fail("--frame", "frame " + std::to_string(opt.frame) +
                                " is past the end (the movie has " + std::to_string(frames) +
                                " frames)");
        r = {opt.frame, opt.frame + 1};
    } else if (!opt.frames.empty()) {
        size_t colon = opt.frames.find(':');
        if (colon == std::string::npos)
            fail("--frames", "expected A:B (frames A to B-1), got '" + opt.frames + "'");
        r.first = parseBound(opt.frames.substr(0, colon), 0);
        r.end = parseBound(opt.frames.substr(colon + 1), frames);
        if (r.end > frames || r.first >= r.end)
            fail("--frames", "'" + opt.frames + "' selects no frames of a movie of " +
                                 std::to_string(frames) + " frames");
    }
    if (r.first >= r.end)
        fail(opt.movie, "has no frames to decode");
    return r;
}

bool isFolderTarget(const std::string& out) {
    struct stat st;
    if (!out.empty() && out.back() == '/')
        return true;
    return stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void makeFolder(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            fail(path, "exists and is not a folder");
        return;
    }
    if (mkdir(path.c_str(), 0777) != 0)
        fail(path, std::string("cannot create the folder: ") + std::strerror(errno));
}

void writeAll(std::FILE* file, const std::string& name, const uint8_t* bytes, size_t n) {
    if (std::fwrite(bytes, 1, n, file) != n)
        fail(name, std::string("write failed: ") + std::strerror(errno));
}

// Turns a fetched ARGB picture into the bytes of the chosen format.
const uint8_t* rawBytes(const std::string& format, std::vector<uint8_t>& argb,
                        std::vector<uint8_t>& rgba) {
    if (format == "argb")
        return argb.data();
    rgba.resize(argb.size());
    argbToRgba(argb.data(), rgba.data(), argb.size() / 4);
    return rgba.data();
}

int runDecode(const DecodeOptions& opt, const GlobalOptions& global) {
    PluginSession session;
    startSession(session, locatePlugin(global.plugin));
    openMovie(session, opt.movie);
    const MovieInfo& m = session.info;
    FrameRange range = chooseFrames(opt, m.frames);
    const int count = range.end - range.first;
    const bool png = opt.format == "png";
    const bool toStdout = opt.output == "-";
    const bool toFolder = !toStdout && isFolderTarget(opt.output);
    if (!toStdout && !toFolder && png && count > 1)
        fail(opt.output, "one PNG file cannot hold " + std::to_string(count) +
                             " frames; give a folder (ending in /), --frame N or --frames A:B");

    std::string folder = opt.output;
    if (toFolder) {
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        makeFolder(folder);
    }
    AtomicOutput single;
    std::FILE* stream = nullptr;
    if (toStdout) {
        stream = stdout;
    } else if (!toFolder) {
        beginOutput(single, opt.output);
        stream = std::fopen(single.temp.c_str(), "wb");
        if (!stream)
            fail(opt.output, std::strerror(errno));
    }
    const std::string streamName = toStdout ? "standard output" : opt.output;

    std::vector<uint8_t> argb(static_cast<size_t>(m.width) * m.height * 4);
    std::vector<uint8_t> rgba;
    Progress progress;
    progressStart(progress, "decode", count);
    try {
        for (int i = range.first; i < range.end; ++i) {
            int r = fetchFrame(session, i, argb.data());
            if (r != 0)
                fail("frame " + std::to_string(i),
                     "the plug-in returned error " + std::to_string(r));
            if (toFolder) {
                char name[32];
                std::snprintf(name, sizeof name, "/frame_%06d.%s", i, opt.format.c_str());
                std::string path = folder + name;
                if (png) {
                    rgba.resize(argb.size());
                    argbToRgba(argb.data(), rgba.data(), argb.size() / 4);
                    writePngFile(path, rgba.data(), m.width, m.height);
                } else {
                    AtomicOutput out;
                    beginOutput(out, path);
                    std::FILE* f = std::fopen(out.temp.c_str(), "wb");
                    if (!f)
                        fail(path, std::strerror(errno));
                    const uint8_t* bytes = rawBytes(opt.format, argb, rgba);
                    bool ok = std::fwrite(bytes, 1, argb.size(), f) == argb.size();
                    if (std::fclose(f) != 0 || !ok)
                        fail(path, std::string("write failed: ") + std::strerror(errno));
                    commitOutput(out);
                }
            } else if (png) {
                rgba.resize(argb.size());
                argbToRgba(argb.data(), rgba.data(), argb.size() / 4);
                writePng(stream, streamName, rgba.data(), m.width, m.height);
            } else {
                writeAll(stream, streamName, rawBytes(opt.format, argb, rgba), argb.size());
            }
            progressStep(progress, i - range.first + 1);
        }
    } catch (...) {
        progressEnd(progress);
        if (stream && !toStdout)
            std::fclose(stream);
        throw;
    }
    progressEnd(progress);
    if (toStdout) {
        if (std::fflush(stdout) != 0)
            fail(streamName, std::string("write failed: ") + std::strerror(errno));
    } else if (stream) {
        if (std::fclose(stream) != 0)
            fail(opt.output, std::string("write failed: ") + std::strerror(errno));
        commitOutput(single);
    }
    endSession(session);
    return kExitOK;
}

} // namespace

void addDecodeCommand(CLI::App& app, const GlobalOptions& global, Action& action) {
    auto opt = std::make_shared<DecodeOptions>();
    CLI::App* cmd = app.add_subcommand("decode", "Decode frames through the plug-in");
    cmd->add_option("MOVIE", opt->movie, "KEO movie (.mov)")->required();
    auto* one = cmd->add_option("--frame", opt->frame, "Only frame N (counted from 0)")
                    ->check(CLI::NonNegativeNumber);
    cmd->add_option("--frames", opt->frames,
                    "Frames A to B-1, like a slice; A or B may be left out")
        ->excludes(one);
    cmd->add_option("--format", opt->format,
                    "png (RGBA 8-bit), argb or rgba (raw, 4 bytes a pixel)")
        ->check(CLI::IsMember({"png", "argb", "rgba"}));
    cmd->add_option("-o,--output", opt->output,
                    "A file, a folder (frame_000000.png, ... by frame number) or - for stdout")
        ->required();
    cmd->footer(
        "Raw frames are top row first, rows packed; argb keeps the decoder's byte order.\n\n"
        "Examples:\n  keo decode clip.mov --frame 0 -o first.png\n"
        "  keo decode clip.mov -o frames/\n"
        "  keo decode clip.mov --format rgba -o - | keo export --input - --size 640x360 "
        "-o copy.mov");
    cmd->callback(
        [opt, &global, &action] { action = [opt, &global] { return runDecode(*opt, global); }; });
}

} // namespace keo::tool
