// keo decode: frames as the host receives them, to PNG, TIFF, JPEG or raw bytes.
#include "Commands.h"
#include "FramePipeline.h"
#include "FrameSlice.h"
#include "Png.h"
#include "Progress.h"
#include "StillOut.h"
#include "base/PixelOrder.h"
#include "libkeo/AtomicOutput.h"
#include "libkeo/Failure.h"
#include "libkeo/PluginResults.h"
#include "libkeo/PluginSession.h"
#include "libkeo/SideBySideFrames.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <sys/uio.h>
#include <thread>
#include <vector>

namespace keo::tool {
using namespace keo::lib;
namespace {

struct DecodeOptions {
    std::string movie;
    int frame = -1;
    std::string frames; // "A:B"
    std::string format = "png";
    std::string output;
    bool stopOnError = false;
    std::string pngCompression = "fast";
    int jpegQuality = 95;
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

// Gives the descriptor every byte the iovecs point at, resuming after short
// writes and interrupted calls.
void writeVector(int fd, const std::string& name, std::vector<iovec>& pieces) {
    size_t next = 0;
    while (next < pieces.size()) {
        const int count = static_cast<int>(std::min<size_t>(pieces.size() - next, IOV_MAX));
        ssize_t n = writev(fd, &pieces[next], count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failWithErrno(name, errno);
        }
        // Past the pieces written whole, into the one cut short.
        for (size_t done = static_cast<size_t>(n); next < pieces.size() && done > 0;) {
            iovec& piece = pieces[next];
            const size_t take = std::min(done, piece.iov_len);
            piece.iov_base = static_cast<uint8_t*>(piece.iov_base) + take;
            piece.iov_len -= take;
            done -= take;
            if (piece.iov_len == 0)
                ++next;
        }
    }
}

// Writes a raw frame to an open stream from where the host holds it: argb
// rows straight from the host's frame, rgba rows through one conversion
// into `rgba`. The stream's buffer is flushed first, so the bytes keep their
// order with anything written through it.
void writeRawRows(std::FILE* file, const std::string& name, const std::string& format,
                  const FrameRows& rows, int width, int height, std::vector<uint8_t>& rgba) {
    if (std::fflush(file) != 0)
        failWithErrno(name, errno);
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    std::vector<iovec> pieces;
    if (format == "argb") {
        pieces.resize(static_cast<size_t>(height));
        for (int y = 0; y < height; ++y)
            pieces[y] = iovec{const_cast<uint8_t*>(rows.top + y * rows.pitch), rowBytes};
    } else {
        rgba.resize(rowBytes * height);
        copyFrameRows(rows, width, height, keo::PixelLayout::RGBA, rgba.data());
        pieces.push_back(iovec{rgba.data(), rgba.size()});
    }
    writeVector(fileno(file), name, pieces);
}

// Writes one raw frame into its own file of the folder.
void writeFrameFile(const std::string& path, const std::string& format, const FrameRows& rows,
                    int width, int height, std::vector<uint8_t>& rgba, const std::string& movie) {
    AtomicOutput out;
    beginOutput(out, path, OutputUse::Stream, {movie});
    std::FILE* f = std::fopen(out.writePath.c_str(), "wb");
    if (!f)
        failWithErrno(path, errno);
    try {
        writeRawRows(f, path, format, rows, width, height, rgba);
    } catch (...) {
        std::fclose(f);
        throw;
    }
    if (std::fclose(f) != 0)
        failWithErrno(path, errno);
    commitOutput(out);
}

std::string frameFileName(const std::string& folder, int index, const std::string& format) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%06d.%s", index, format.c_str());
    return folder + name;
}

// Where the frames go: a folder of files, or one stream (a file or standard
// output) that gets them one after another.
struct DecodeTarget {
    std::string folder; // empty: the stream
    std::FILE* stream = nullptr;
    std::string streamName;
};

// Still pictures: frames are fetched here, one after another, and encoded
// on worker threads while the next ones are fetched; files and the stream
// get them in frame order. A frame that cannot be fetched is reported after
// the frames before it are out. Returns the number of frames that failed.
int decodeStills(PluginSession& session, const DecodeOptions& opt, const StillSettings& settings,
                 FrameRange range, const DecodeTarget& target, Progress& progress) {
    const MovieInfo& m = session.info;
    const size_t frameBytes = static_cast<size_t>(m.width) * m.height * 4;
    const int workers = range.end - range.first > 1 ? FramePipeline::workersForThisMachine() : 0;
    auto encode = [&](int64_t index, const uint8_t* argb, std::vector<uint8_t>* bytes) {
        try {
            *bytes = encodeStill(settings, argb, m.width, m.height);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            const int i = static_cast<int>(index);
            fail(target.folder.empty() ? target.streamName
                                       : frameFileName(target.folder, i, opt.format),
                 e.what());
        }
    };
    int written = 0;
    auto take = [&](int64_t index, std::vector<uint8_t>& bytes) {
        const int i = static_cast<int>(index);
        if (!target.folder.empty())
            writeStillFile(frameFileName(target.folder, i, opt.format), bytes, {opt.movie});
        else
            writeAll(target.stream, target.streamName, bytes.data(), bytes.size());
        progressStep(progress, ++written);
    };
    FramePipeline pipeline(encode, take, frameBytes, workers,
                           FramePipeline::slotsFor(frameBytes, workers));
    int failed = 0;
    for (int i = range.first; i < range.end; ++i) {
        uint8_t* argb = pipeline.nextBuffer();
        const int r = fetchFrame(session, i, argb);
        if (r != 0) {
            pipeline.drop();
            pipeline.collect(true);
            progressPause(progress);
            reportFrameFailure(i, r, opt.stopOnError);
            ++failed;
            continue;
        }
        pipeline.submit(i);
        pipeline.collect(false);
    }
    pipeline.collect(true);
    return failed;
}

// The movie opened once more, on the same host, for a second thread to
// fetch frames on; null when a second importer record cannot be had (the
// first does every frame then) or would have nothing to do.
std::unique_ptr<PluginSession> secondSession(PluginSession& first, int count) {
    if (count < 2 || std::thread::hardware_concurrency() < 2)
        return nullptr;
    auto second = std::make_unique<PluginSession>();
    try {
        joinSession(*second, first.modulePath, first.module.entry, first.host);
        openMovie(*second, first.moviePath);
    } catch (const Failure&) {
        return nullptr;
    }
    return second;
}

// Raw frames, each written from the host's frame itself, uncopied, in frame
// order; the next is fetched on a second importer record meanwhile. A frame
// that fails is reported and left out; the others are still worth having.
// Returns the number of frames that failed.
int decodeRaw(PluginSession& session, const DecodeOptions& opt, FrameRange range,
              const DecodeTarget& target, Progress& progress) {
    const MovieInfo& m = session.info;
    std::vector<int> indices;
    for (int i = range.first; i < range.end; ++i)
        indices.push_back(i);
    std::unique_ptr<PluginSession> second = secondSession(session, range.end - range.first);
    // Frames are used one at a time, in order, so one conversion buffer and
    // the progress line serve both threads.
    std::vector<uint8_t> rgba;
    int failed = 0;
    auto use = [&](size_t k, int result, const FrameRows* rows) {
        const int i = indices[k];
        if (result != 0) {
            progressPause(progress);
            reportFrameFailure(i, result, opt.stopOnError);
            ++failed;
            return;
        }
        if (!target.folder.empty())
            writeFrameFile(frameFileName(target.folder, i, opt.format), opt.format, *rows, m.width,
                           m.height, rgba, opt.movie);
        else
            writeRawRows(target.stream, target.streamName, opt.format, *rows, m.width, m.height,
                         rgba);
        progressStep(progress, static_cast<int>(k) + 1);
    };
    // The second record is closed as it goes, before the first's books are
    // checked.
    fetchFramesSideBySide(session, second.get(), indices, true, use);
    return failed;
}

int runDecode(const DecodeOptions& opt, const GlobalOptions& global) {
    PluginSession session;
    startSession(session, locatePlugin(global.plugin));
    openMovie(session, opt.movie);
    const MovieInfo& m = session.info;
    FrameRange range = chooseFrames(opt, m.frames);
    const int count = range.end - range.first;
    StillSettings still;
    const bool isStill = stillFormatNamed(opt.format, &still.format);
    still.png = opt.pngCompression == "small" ? PngCompression::Small : PngCompression::Fast;
    still.jpegQuality = opt.jpegQuality;
    const bool toStdout = opt.output == "-";
    const bool toFolder = !toStdout && isFolderTarget(opt.output);
    if (!toStdout && !toFolder && isStill && count > 1)
        fail(opt.output, "one picture file cannot hold " + std::to_string(count) +
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

    Progress progress;
    progressStart(progress, "decode", count, global.quiet);
    int failed = 0;
    try {
        if (isStill) {
            failed =
                decodeStills(session, opt, still, range,
                             DecodeTarget{toFolder ? folder : "", stream, streamName}, progress);
        } else {
            failed = decodeRaw(session, opt, range,
                               DecodeTarget{toFolder ? folder : "", stream, streamName}, progress);
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
                    "png (RGBA 8-bit), tiff (RGBA 8-bit), jpeg (RGB, no alpha), or argb or rgba "
                    "(raw, 4 bytes a pixel)")
        ->check(CLI::IsMember({"png", "tiff", "jpeg", "argb", "rgba"}));
    cmd->add_option("--png-compression", opt->pngCompression,
                    "fast (the default) or small: the smallest files, several times slower; "
                    "both lossless")
        ->check(CLI::IsMember({"fast", "small"}));
    cmd->add_option("--jpeg-quality", opt->jpegQuality, "1 to 100 (default 95)")
        ->check(CLI::Range(1, 100));
    cmd->add_option("-o,--output", opt->output,
                    "A file, a folder (frame_000000.png, ... by frame number) or - for stdout")
        ->required();
    cmd->add_flag("--stop-on-error", opt->stopOnError,
                  "Stop at the first frame that fails (default: report it and go on)");
    cmd->footer(
        "Raw frames are top row first, rows packed; argb keeps the decoder's byte order.\n"
        "Pictures are encoded on every core while the next frames are decoded; raw frames\n"
        "are decoded two at a time and written in order.\n"
        "A frame that fails is reported on stderr and left out; the exit status is then 3.\n\n"
        "Examples:\n  keo decode clip.mov --frame 0 -o first.png\n"
        "  keo decode clip.mov -o frames/\n"
        "  keo decode clip.mov --format rgba -o - | keo export --input - --size 640x360 "
        "-o copy.mov");
    cmd->callback(
        [opt, &global, &action] { action = [opt, &global] { return runDecode(*opt, global); }; });
}

} // namespace keo::tool
