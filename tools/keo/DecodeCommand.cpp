// keo decode: frames as the host receives them, to PNG or raw bytes.
#include "AtomicOutput.h"
#include "Commands.h"
#include "Failure.h"
#include "FrameSlice.h"
#include "PluginResults.h"
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
    bool stopOnError = false;
};

struct FrameRange {
    int first;
    int end; // one past the last
};

FrameRange chooseFrames(const DecodeOptions& opt, int frames) {
    FrameRange r{0, frames};
    if (opt.frame >= 0) {
        if (opt.frame >= frames)
            fail("--frame", "frame " + std::to_string(opt.frame) +
                                " is past the end (the movie has " + std::to_string(frames) +
                                " frames)");
        r = {opt.frame, opt.frame + 1};
    } else if (!opt.frames.empty()) {
        FrameSlice slice;
        std::string why;
        if (!parseFrameSlice(opt.frames, frames, &slice, &why))
            fail("--frames", why);
        if (slice.first >= slice.end)
            fail("--frames", emptySliceReason(opt.frames, frames, slice));
        r = {slice.first, slice.end};
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
        failWithErrno(path, errno);
}

void writeAll(std::FILE* file, const std::string& name, const uint8_t* bytes, size_t n) {
    if (std::fwrite(bytes, 1, n, file) != n)
        failWithErrno(name, errno);
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

// Writes one frame into its own file of the folder.
void writeFrameFile(const std::string& path, const std::string& format, bool png,
                    std::vector<uint8_t>& argb, std::vector<uint8_t>& rgba, const MovieInfo& m,
                    const std::string& movie) {
    if (png) {
        rgba.resize(argb.size());
        argbToRgba(argb.data(), rgba.data(), argb.size() / 4);
        writePngFile(path, rgba.data(), m.width, m.height, {movie});
        return;
    }
    AtomicOutput out;
    beginOutput(out, path, OutputUse::Stream, {movie});
    std::FILE* f = std::fopen(out.writePath.c_str(), "wb");
    if (!f)
        failWithErrno(path, errno);
    const uint8_t* bytes = rawBytes(format, argb, rgba);
    bool ok = std::fwrite(bytes, 1, argb.size(), f) == argb.size();
    int err = errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok)
        failWithErrno(path, err);
    commitOutput(out);
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
    if (!toFolder) {
        beginOutput(single, opt.output, OutputUse::Stream, {opt.movie});
        stream = single.toStdout ? stdout : std::fopen(single.writePath.c_str(), "wb");
        if (!stream)
            failWithErrno(opt.output, errno);
    }
    const std::string streamName = toStdout ? "standard output" : opt.output;

    std::vector<uint8_t> argb(static_cast<size_t>(m.width) * m.height * 4);
    std::vector<uint8_t> rgba;
    Progress progress;
    progressStart(progress, "decode", count, global.quiet);
    int failed = 0;
    try {
        for (int i = range.first; i < range.end; ++i) {
            int r = fetchFrame(session, i, argb.data());
            if (r != 0) {
                // A frame that fails is reported and left out; the others
                // are still worth having.
                progressPause(progress);
                reportFrameFailure(i, r, opt.stopOnError);
                ++failed;
                continue;
            }
            if (toFolder) {
                char name[32];
                std::snprintf(name, sizeof name, "/frame_%06d.%s", i, opt.format.c_str());
                writeFrameFile(folder + name, opt.format, png, argb, rgba, m, opt.movie);
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
        if (stream && stream != stdout)
            std::fclose(stream);
        throw;
    }
    progressEnd(progress);
    if (stream == stdout) {
        if (std::fflush(stdout) != 0)
            failWithErrno(streamName, errno);
    } else if (stream) {
        if (std::fclose(stream) != 0)
            failWithErrno(opt.output, errno);
        // A single frame that failed leaves no file; frames that failed in
        // a stream are missing from it, and the exit status says so.
        if (failed == count)
            abandonOutput(single);
        else
            commitOutput(single);
    }
    endSession(session);
    return failed ? kExitDamaged : kExitOK;
}

} // namespace

void addDecodeCommand(CLI::App& app, const GlobalOptions& global, Action& action) {
    auto opt = std::make_shared<DecodeOptions>();
    CLI::App* cmd = app.add_subcommand("decode", "Decode frames through the plug-in");
    cmd->add_option("MOVIE", opt->movie, "KEO movie (.mov)")->required();
    auto* one = cmd->add_option("--frame", opt->frame, "Only frame N (counted from 0)")
                    ->check(CLI::NonNegativeNumber);
    cmd->add_option("--frames", opt->frames,
                    "Frames A to B-1, like a slice: A or B may be left out, -N counts from "
                    "the end (--frames=-2: is the last two)")
        ->excludes(one);
    cmd->add_option("--format", opt->format,
                    "png (RGBA 8-bit), argb or rgba (raw, 4 bytes a pixel)")
        ->check(CLI::IsMember({"png", "argb", "rgba"}));
    cmd->add_option("-o,--output", opt->output,
                    "A file, a folder (frame_000000.png, ... by frame number) or - for stdout")
        ->required();
    cmd->add_flag("--stop-on-error", opt->stopOnError,
                  "Stop at the first frame that fails (default: report it and go on)");
    cmd->footer(
        "Raw frames are top row first, rows packed; argb keeps the decoder's byte order.\n"
        "A frame that fails is reported on stderr and left out; the exit status is then 3.\n\n"
        "Examples:\n  keo decode clip.mov --frame 0 -o first.png\n"
        "  keo decode clip.mov -o frames/\n"
        "  keo decode clip.mov --format rgba -o - | keo export --input - --size 640x360 "
        "-o copy.mov");
    cmd->callback(
        [opt, &global, &action] { action = [opt, &global] { return runDecode(*opt, global); }; });
}

} // namespace keo::tool
