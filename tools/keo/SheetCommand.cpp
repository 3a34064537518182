// keo sheet: a contact sheet of evenly spaced frames, to see a movie at a glance.
#include "Commands.h"
#include "FramePipeline.h"
#include "Png.h"
#include "Progress.h"
#include "libkeo/Failure.h"
#include "libkeo/PluginResults.h"
#include "libkeo/PluginSession.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace keo::tool {
using namespace keo::lib;
namespace {

struct SheetOptions {
    std::string movie;
    std::string output;
    int count = 12;
    int columns = 4;
    int width = 240;
    bool stopOnError = false;
    std::string pngCompression = "fast";
};

constexpr int kGap = 4;
constexpr uint8_t kBackground = 40;

// Box filter along one axis: output sample o averages the input span
// [o x n / m, (o + 1) x n / m), each input sample weighted by its overlap.
// Works for shrinking and (as nearest-ish) for growing.
void boxResample(const float* in, int n, int inStride, float* out, int m, int outStride,
                 int channels) {
    const double step = static_cast<double>(n) / m;
    for (int o = 0; o < m; ++o) {
        double lo = o * step, hi = (o + 1) * step;
        int first = static_cast<int>(lo), last = std::min(n - 1, static_cast<int>(hi - 1e-9));
        float acc[4] = {0, 0, 0, 0};
        double total = 0;
        for (int i = first; i <= last; ++i) {
            double w = std::min<double>(hi, i + 1) - std::max<double>(lo, i);
            if (w <= 0)
                continue;
            total += w;
            for (int c = 0; c < channels; ++c)
                acc[c] += static_cast<float>(w) * in[static_cast<size_t>(i) * inStride + c];
        }
        for (int c = 0; c < channels; ++c)
            out[static_cast<size_t>(o) * outStride + c] =
                total > 0 ? static_cast<float>(acc[c] / total) : 0.0f;
    }
}

// Composites the ARGB frame over the sheet's background and shrinks it to
// tw x th RGB floats, a row at a time: the composited frame is never held
// whole.
std::vector<float> thumbnail(const uint8_t* argb, int w, int h, int tw, int th) {
    std::vector<float> rgb(static_cast<size_t>(w) * 3);
    std::vector<float> across(static_cast<size_t>(tw) * h * 3);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = argb + static_cast<size_t>(y) * w * 4;
        for (int x = 0; x < w; ++x) {
            float a = row[x * 4] / 255.0f;
            for (int c = 0; c < 3; ++c)
                rgb[x * 3 + c] = row[x * 4 + 1 + c] * a + kBackground * (1 - a);
        }
        boxResample(rgb.data(), w, 3, &across[static_cast<size_t>(y) * tw * 3], tw, 3, 3);
    }
    std::vector<float> out(static_cast<size_t>(tw) * th * 3);
    for (int x = 0; x < tw; ++x)
        boxResample(&across[static_cast<size_t>(x) * 3], h, tw * 3,
                    &out[static_cast<size_t>(x) * 3], th, tw * 3, 3);
    return out;
}

// A failed frame's place in the sheet (its top left at `cell`, rows `pitch`
// bytes apart) shows a red cross rather than staying empty, which would look
// like a black frame.
void paintFailedCell(uint8_t* cell, size_t pitch, int tw, int th) {
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
            uint8_t* p = cell + static_cast<size_t>(y) * pitch + static_cast<size_t>(x) * 4;
            const bool cross =
                std::abs(x * th - y * tw) < tw || std::abs(x * th - (th - 1 - y) * tw) < tw;
            p[0] = cross ? 220 : 90;
            p[1] = p[2] = cross ? 40 : kBackground;
        }
}

int runSheet(const SheetOptions& opt, const GlobalOptions& global) {
    PluginSession session;
    startSession(session, locatePlugin(global.plugin));
    openMovie(session, opt.movie);
    const MovieInfo& m = session.info;
    if (m.frames < 1)
        fail(opt.movie, "has no frames");
    const int count = std::min(opt.count, m.frames);
    const int columns = std::min(opt.columns, count);
    const int rows = (count + columns - 1) / columns;
    const int tw = opt.width;
    const int th = std::max(
        1, static_cast<int>((static_cast<int64_t>(m.height) * tw + m.width / 2) / m.width));
    const int64_t sheetW = static_cast<int64_t>(columns) * (tw + kGap) + kGap;
    const int64_t sheetH = static_cast<int64_t>(rows) * (th + kGap) + kGap;
    if (sheetW > 32767 || sheetH > 32767)
        fail("sheet", "would be " + std::to_string(sheetW) + "x" + std::to_string(sheetH) +
                          " pixels; use a smaller --width or --count");
    std::vector<uint8_t> sheet(static_cast<size_t>(sheetW) * sheetH * 4);
    for (size_t p = 0; p < sheet.size(); p += 4) {
        sheet[p] = sheet[p + 1] = sheet[p + 2] = kBackground;
        sheet[p + 3] = 255;
    }

    // Frames are fetched here and shrunk on worker threads while the next
    // ones are fetched; each thumbnail comes back as tw x th RGB bytes.
    auto shrink = [&](int64_t, const uint8_t* argb, std::vector<uint8_t>* rgb) {
        const std::vector<float> thumb = thumbnail(argb, m.width, m.height, tw, th);
        rgb->resize(thumb.size());
        for (size_t i = 0; i < thumb.size(); ++i)
            (*rgb)[i] = static_cast<uint8_t>(std::clamp(thumb[i] + 0.5f, 0.0f, 255.0f));
    };
    Progress progress;
    int placed = 0;
    auto place = [&](int64_t k, std::vector<uint8_t>& rgb) {
        const int64_t ox = kGap + (k % columns) * (tw + kGap);
        const int64_t oy = kGap + (k / columns) * (th + kGap);
        for (int y = 0; y < th; ++y)
            for (int x = 0; x < tw; ++x) {
                uint8_t* p = &sheet[((oy + y) * sheetW + ox + x) * 4];
                std::copy_n(&rgb[(static_cast<size_t>(y) * tw + x) * 3], 3, p);
            }
        progressStep(progress, ++placed);
    };
    const size_t frameBytes = static_cast<size_t>(m.width) * m.height * 4;
    const int workers = count > 1 ? FramePipeline::workersForThisMachine() : 0;
    FramePipeline pipeline(shrink, place, frameBytes, workers,
                           FramePipeline::slotsFor(frameBytes, workers));
    progressStart(progress, "sheet", count, global.quiet);
    int failed = 0;
    for (int k = 0; k < count; ++k) {
        // Evenly spaced from the first frame on.
        int index = static_cast<int>(static_cast<int64_t>(k) * m.frames / count);
        int r = fetchFrame(session, index, pipeline.nextBuffer());
        if (r != 0) {
            pipeline.drop();
            pipeline.collect(true);
            progressPause(progress);
            reportFrameFailure(index, r, opt.stopOnError);
            ++failed;
            const int64_t ox = kGap + static_cast<int64_t>(k % columns) * (tw + kGap);
            const int64_t oy = kGap + static_cast<int64_t>(k / columns) * (th + kGap);
            paintFailedCell(&sheet[static_cast<size_t>((oy * sheetW + ox) * 4)],
                            static_cast<size_t>(sheetW) * 4, tw, th);
            continue;
        }
        pipeline.submit(k);
        pipeline.collect(false);
    }
    pipeline.collect(true);
    progressEnd(progress);
    endSession(session);
    writePngFile(opt.output, sheet.data(), static_cast<int>(sheetW), static_cast<int>(sheetH),
                 {opt.movie},
                 opt.pngCompression == "small" ? PngCompression::Small : PngCompression::Fast);
    return failed ? kExitDamaged : kExitOK;
}

} // namespace

void addSheetCommand(CLI::App& app, const GlobalOptions& global, Action& action) {
    auto opt = std::make_shared<SheetOptions>();
    CLI::App* cmd = app.add_subcommand("sheet", "A contact sheet of evenly spaced frames, as PNG");
    cmd->add_option("MOVIE", opt->movie, "KEO movie (.mov)")->required();
    cmd->add_option("-o,--output", opt->output, "PNG file to write, or - for stdout")->required();
    cmd->add_option("--count", opt->count, "Frames on the sheet (default 12)")
        ->check(CLI::Range(1, 1000));
    cmd->add_option("--columns", opt->columns, "Frames per row (default 4)")
        ->check(CLI::Range(1, 100));
    cmd->add_option("--width", opt->width,
                    "Width of each frame on the sheet in pixels (default 240)")
        ->check(CLI::Range(1, 4096));
    cmd->add_flag("--stop-on-error", opt->stopOnError,
                  "Stop at the first frame that fails (default: mark its place and go on)");
    cmd->add_option("--png-compression", opt->pngCompression,
                    "fast (the default) or small: the smallest file, slower; both lossless")
        ->check(CLI::IsMember({"fast", "small"}));
    cmd->footer("A frame that fails is reported on stderr and crossed out on the sheet; the exit\n"
                "status is then 3.\n\n"
                "Example:\n  keo sheet clip.mov -o sheet.png --count 16 --columns 4");
    cmd->callback(
        [opt, &global, &action] { action = [opt, &global] { return runSheet(*opt, global); }; });
}

} // namespace keo::tool
