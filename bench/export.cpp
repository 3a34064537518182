// Where the time of `keo export` goes, what a second thread buys, and keo
// export of a movie against the GStreamer pipeline it equals
// (export_movie.cpp).
//
// The input is the photograph of bench/make_photo.sh, 1920x1080, as twelve
// PNG files (the synthetic picture without it). Two tables per layout, then
// the movie's (export_movie.cpp says what it prints):
//
// 1. Stages of one frame, each timed alone on one thread, best of several
//    rounds over the twelve frames, per frame in milliseconds:
//      feed        decoding one PNG, into the memory of the frame before
//                  (as keo does; the export is lent the picture there)
//      render      the stand-in host's RenderVideoFrame and Dispose: the
//                  picture into the host's bottom-up BGRA frame
//      conversion  the exporter's BGRA frame into the encoder's ARGB32
//      encode      CompressDXTFrame, on one and on two threads
//      write       the sample appended to a movie on disk
//    With two threads the feed runs ahead on two threads of its own and
//    the encode on the encoder's workers; render, conversion and write are
//    the export's serial part, done on the exporting thread between
//    encodes.
// 2. `keo export` of the twelve frames on one and on two threads, in wall
//    time, runs of each interleaved, the best of each: the speed-up, which
//    must be at least kMinSpeedUp. Twice: from the PNG files, which keo
//    decodes on as many threads as it encodes on, ahead of the export (a
//    PNG decode takes longer than a frame's export on two threads), and
//    from the same pictures as raw RGBA frames on standard input, read
//    ahead on one thread.
//
// Each layout is measured: DXT24 + LZF (the default) and DXT1 + LZF. On a
// busy machine the stage figures stay near their best; the speed-up needs
// idle cores, which `uptime` shows (printed first and last).
//
// $KEO_BENCH_BEFORE names another keo (a build from before a change) that
// is run beside this one in every whole-run table, for a before and after
// in one output; $KEO_BENCH_KEO replaces this one.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "BenchPhoto.h"
#include "ExportBench.h"
#include "KEOHostAPI.h"
#include "Png.h"
#include "StandInHost.h"
#include "Stills.h"
#include "base/PixelOrder.h"
#include "codec/EncoderThreads.h"
#include "codec/FrameEncoder.h"
#include "codec/encode_picture.h"
#include "container/LargeFp.h"
#include "container/MovFile.h"

namespace {

using keo::bench::Keo, keo::bench::Stages;
using keo::bench::kPictureHeight, keo::bench::kPictureWidth, keo::bench::kSyntheticSeed;

constexpr int kFrames = 12;
constexpr int kStageRounds = 5;
constexpr int kExportRuns = 5;
constexpr double kMinSpeedUp = 1.6;
constexpr size_t kFrameBytes = size_t(kPictureWidth) * kPictureHeight * 4;

struct Layout {
    const char* name;
    int optimize; // keo export --optimize, "KEOOptimizeFor"
};
const Layout kLayouts[] = {{"DXT24+LZF", 0}, {"DXT1+LZF", 1}};

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The best of kStageRounds rounds of `frame` over kFrames frames, per frame
// in milliseconds.
double bestPerFrameMs(const std::function<void(int)>& frame) {
    double best = 0;
    for (int round = 0; round < kStageRounds; ++round) {
        const double start = now();
        for (int i = 0; i < kFrames; ++i)
            frame(i);
        const double took = (now() - start) * 1000 / kFrames;
        if (round == 0 || took < best)
            best = took;
    }
    return best;
}

extern "C" const uint8_t* lendPicture(void* context, PrTime, int32_t width, int32_t,
                                      size_t* pitch) {
    *pitch = size_t(width) * 4;
    return static_cast<const uint8_t*>(context);
}

// The host renders the picture as keo's export has it render, with its
// frames left unpainted; returns the per-frame time, and leaves the last
// frame's BGRA rows and pitch in `bgra`.
double renderStage(const std::vector<uint8_t>& rgba, std::vector<uint8_t>* bgra, size_t* pitch) {
    keo::host::HostConfig config;
    config.paintNewFrames = false;
    keo::host::StandInHost* host = keo::host::createHost(config);
    keo::host::setParamInt(host, "ADBEVideoWidth", kPictureWidth);
    keo::host::setParamInt(host, "ADBEVideoHeight", kPictureHeight);
    keo::host::setFrameLender(host, lendPicture, const_cast<uint8_t*>(rgba.data()));
    const keo::host::HostSuites suites = keo::host::hostSuites(host);
    const uint32_t plugin = keo::host::makeExportRec(host, nullptr, 0, 0).exporterPluginID;
    uint32_t renderer = 0;
    suites.sequenceRender->MakeVideoRenderer(plugin, &renderer, 1);
    static const PrPixelFormat kBGRA[1] = {PrPixelFormat_BGRA_4444_8u};
    SequenceRender_ParamsRec request{};
    request.inRequestedPixelFormatArray = kBGRA;
    request.inRequestedPixelFormatArrayCount = 1;
    request.inWidth = kPictureWidth;
    request.inHeight = kPictureHeight;
    request.inCompositeOnBlack = 1;
    const double ms = bestPerFrameMs([&](int i) {
        SequenceRender_GetFrameReturnRec result{};
        suites.sequenceRender->RenderVideoFrame(renderer, i, &request, 0, &result);
        if (i == kFrames - 1) {
            char* pixels = nullptr;
            int32_t rowBytes = 0;
            suites.ppix->GetPixels(result.outFrame, PrPPixBufferAccess_ReadOnly, &pixels);
            suites.ppix->GetRowBytes(result.outFrame, &rowBytes);
            bgra->assign(pixels, pixels + size_t(rowBytes) * kPictureHeight);
            *pitch = size_t(rowBytes);
        }
        suites.ppix->Dispose(result.outFrame);
    });
    suites.sequenceRender->ReleaseVideoRenderer(plugin, renderer);
    keo::host::destroyHost(host);
    return ms;
}

Stages measureStages(const std::vector<std::string>& pngs, const std::vector<uint8_t>& rgba,
                     const Layout& layout, const std::string& moviePath) {
    Stages s;
    keo::tool::RgbaPicture kept;
    s.feed = bestPerFrameMs([&](int i) { keo::tool::readStill(pngs[i], &kept); });
    std::vector<uint8_t> bgra;
    size_t pitch = 0;
    s.render = renderStage(rgba, &bgra, &pitch);
    std::vector<uint8_t> argb(kFrameBytes);
    s.conversion = bestPerFrameMs([&](int) {
        keo::convertPixels({keo::PixelLayout::BGRA, keo::PixelLayout::ARGB, keo::RowOrder::Flipped},
                           bgra.data(), pitch, argb.data(), kPictureWidth * 4, kPictureWidth,
                           kPictureHeight);
    });
    uint64_t capacity = 0;
    KEOMaxFramePayloadSize(kPictureWidth, kPictureHeight, &capacity);
    std::vector<uint8_t> payload(capacity);
    int length = 0;
    for (int threads : {1, 2}) {
        const double ms = bestPerFrameMs([&](int) {
            length = CompressDXTFrame(argb.data(), payload.data(), kPictureWidth, kPictureHeight,
                                      kPictureWidth * 4, 0, layout.optimize, threads);
        });
        (threads == 1 ? s.encode1 : s.encode2) = ms;
    }
    MovFile movie;
    char compressor[] = "ZUVM";
    if (length > 0 && movie.openWrite(moviePath.c_str(), compressor, kPictureWidth, kPictureHeight,
                                      {25, 1}, 1, 0, 48000, 2, 16)) {
        s.write = bestPerFrameMs([&](int) {
            LargeFp* fp = movie.prepareToWriteFrame(0);
            fwrite_L(payload.data(), size_t(length), 1, fp);
            movie.endWriteFrame();
        });
        movie.close();
    }
    return s;
}

// The best wall seconds of `keo export` of the PNG folder, or of raw frames
// from the file `raw` when it is given, on one and on two threads, for each
// keo: runs interleaved, so that all see the same machine. False when one
// fails.
struct SpeedUp {
    double one = 0, two = 0;
};
bool exportTimes(const std::vector<Keo>& keos, const std::string& folder, const std::string& raw,
                 const Layout& layout, const std::string& out, std::vector<SpeedUp>* best) {
    best->assign(keos.size(), SpeedUp{});
    for (int run = 0; run < kExportRuns; ++run)
        for (size_t k = 0; k < keos.size(); ++k)
            for (int threads : {1, 2}) {
                std::vector<std::string> args{"-q",         "export",
                                              "--optimize", std::to_string(layout.optimize),
                                              "--threads",  std::to_string(threads),
                                              "-o",         out,
                                              "--input"};
                if (raw.empty())
                    args.push_back(folder);
                else
                    args.insert(args.end(), {"-", "--size", "1920x1080"});
                const keo::bench::Run r = keo::bench::runProgram(keos[k].path, args, raw);
                if (r.status != 0) {
                    std::fprintf(stderr, "bench_export: %s failed\n", keos[k].name.c_str());
                    return false;
                }
                double& kept = threads == 1 ? (*best)[k].one : (*best)[k].two;
                if (run == 0 || r.wallSeconds < kept)
                    kept = r.wallSeconds;
            }
    return true;
}

void printLoad(const char* when) {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %s: %.2f %.2f %.2f on %ld cores\n", when, load[0], load[1],
                    load[2], sysconf(_SC_NPROCESSORS_ONLN));
}

} // namespace

std::vector<Keo> keo::bench::keosToRun() {
    const char* replaced = std::getenv("KEO_BENCH_KEO");
    std::vector<Keo> keos{{replaced && *replaced ? replaced : KEO_PATH, "keo export"}};
    const char* before = std::getenv("KEO_BENCH_BEFORE");
    if (before && *before)
        keos.push_back({before, "keo export before"});
    return keos;
}

int main() {
    printLoad("at the start");
    char folderTemplate[] = "/tmp/keo_bench_export_XXXXXX";
    if (!mkdtemp(folderTemplate)) {
        std::perror("bench_export: mkdtemp");
        return 1;
    }
    const std::string folder = folderTemplate;
    std::vector<unsigned char> argb;
    const bool havePhoto = keo::bench::loadPhoto(&argb);
    if (!havePhoto) {
        std::fprintf(stderr, "bench_export: no photograph at %s, the synthetic picture instead\n",
                     keo::bench::photoPath().c_str());
        argb = encode_test::naturalPicture(kPictureWidth, kPictureHeight, kSyntheticSeed, false);
    }
    std::vector<uint8_t> rgba(argb.size());
    keo::convertPixels({keo::PixelLayout::ARGB, keo::PixelLayout::RGBA}, argb.data(),
                       kPictureWidth * 4, rgba.data(), kPictureWidth * 4, kPictureWidth,
                       kPictureHeight);
    std::vector<std::string> pngs;
    const std::string frames = folder + "/frames";
    mkdir(frames.c_str(), 0777);
    for (int i = 0; i < kFrames; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame%02d.png", i);
        pngs.push_back(frames + name);
        keo::tool::writePngFile(pngs.back(), rgba.data(), kPictureWidth, kPictureHeight);
    }

    const std::string raw = folder + "/frames.rgba";
    if (FILE* file = std::fopen(raw.c_str(), "wb")) {
        for (int i = 0; i < kFrames; ++i)
            std::fwrite(rgba.data(), 1, rgba.size(), file);
        std::fclose(file);
    }

    const char* picture = havePhoto ? "photograph" : "synthetic picture";
    const std::vector<Keo> keos = keo::bench::keosToRun();
    bool allMet = true;
    Stages dxt24Stages;
    for (const Layout& layout : kLayouts) {
        const Stages s = measureStages(pngs, rgba, layout, folder + "/stages.mov");
        std::printf("\nkeo export of %d frames of the 1920x1080 %s, %s\n", kFrames, picture,
                    layout.name);
        std::printf("stage, ms per frame on one thread\n");
        std::printf("  %-24s %8.2f\n", "feed (PNG)", s.feed);
        std::printf("  %-24s %8.2f\n", "host render", s.render);
        std::printf("  %-24s %8.2f\n", "conversion", s.conversion);
        std::printf("  %-24s %8.2f  (%.2f on two threads)\n", "encode", s.encode1, s.encode2);
        std::printf("  %-24s %8.2f\n", "write", s.write);
        std::printf("  %-24s %8.2f  (%.0f %% of the one-thread frame, %.2f ms)\n", "serial part",
                    s.serial(), 100 * s.serial() / s.oneThread(), s.oneThread());
        for (const bool fromRaw : {false, true}) {
            std::vector<SpeedUp> best;
            if (!exportTimes(keos, frames, fromRaw ? raw : std::string(), layout,
                             folder + "/export.mov", &best))
                return 1;
            for (size_t k = 0; k < keos.size(); ++k) {
                const double speedUp = best[k].one / best[k].two;
                const bool met = speedUp >= kMinSpeedUp;
                // The goal is this keo's; one from before is shown beside it.
                if (k == 0)
                    allMet = allMet && met;
                std::printf("%s from %-10s wall: 1 thread %.3f s, 2 threads %.3f s: %.2f x as "
                            "fast, at least %.1f: %s\n",
                            keos[k].name.c_str(), fromRaw ? "raw frames" : "PNG files", best[k].one,
                            best[k].two, speedUp, kMinSpeedUp, met ? "met" : "NOT met");
            }
        }
        if (layout.optimize == 0)
            dxt24Stages = s;
    }
    // A movie's frames come decoded by GStreamer instead; the stages after
    // the feed are those of DXT24 + LZF above.
    if (!keo::bench::benchMovieInput(folder, rgba, picture, dxt24Stages, KEODefaultEncodeThreads()))
        allMet = false;
    std::system(("rm -rf '" + folder + "'").c_str());
    printLoad("at the end");
    std::printf("\n%s\n", allMet ? "all goals met" : "some goals NOT met");
    return 0;
}
