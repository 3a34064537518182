// keo export --input MOVIE against the GStreamer pipeline it equals:
//
//   gst-launch-1.0 filesrc ! qtdemux ! jpegdec ! videoconvert !
//       keoenc layout=dxt24 lzf=true threads=N ! keomux ! filesink
//
// writes, byte for byte, the movie that `keo export --input MOVIE --threads N`
// writes (DXT24 + LZF is keo's default layout). The movie is made here with
// gst-launch-1.0: 10 s at 25 fps of the bench's 1920x1080 picture with a
// moving ball over it (so that no two frames are the same), as JPEG at
// quality 85 in a QuickTime file.
//
// Where a frame goes in each:
//   pipeline  jpegdec -> videoconvert (I420 to ARGB) -> encode -> write
//   keo       jpegdec -> videoconvert (I420 to RGBA) -> the host's render
//             (the picture into its bottom-up BGRA frame) -> the exporter's
//             conversion (that frame into the encoder's ARGB) -> encode ->
//             write
// The render and the conversion are keo's only work beyond the pipeline's:
// the host hands frames to an exporter as bottom-up BGRA, and the exporter
// makes ARGB of them, so an export through the host makes those two passes
// over each picture. The frame GStreamer decoded is lent to the host where
// it lies (no copy), and GStreamer's own threads decode ahead of the export.
//
// Printed: the CPU per frame of each stage, the best wall and CPU time of
// each whole run (runs interleaved, so both see the same machine), keo's
// wall time over the pipeline's against the goal (at most kMaxRatio), and
// whether the two movies are the same bytes. The movie's JPEG decode and
// the encode take nearly all the time, so the ratio stays near 1 on a busy
// machine too; its wall times need idle cores to be the machine's own.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "BenchPhoto.h"
#include "ExportBench.h"

namespace keo::bench {
namespace {

constexpr int kSeconds = 10;
constexpr int kRate = 25;
constexpr int kFrames = kSeconds * kRate;
constexpr int kRuns = 3;
constexpr double kMaxRatio = 1.25;

const char* const kLaunch = "gst-launch-1.0";

std::string sizeCaps() {
    return "width=" + std::to_string(kPictureWidth) + ",height=" + std::to_string(kPictureHeight) +
           ",framerate=" + std::to_string(kRate) + "/1";
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

// Whether two files hold the same bytes (and some).
bool sameFiles(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    bool any = false;
    while (fa && fb) {
        fa.read(ba.data(), std::streamsize(ba.size()));
        fb.read(bb.data(), std::streamsize(bb.size()));
        if (fa.gcount() != fb.gcount() ||
            !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin()))
            return false;
        any = any || fa.gcount() > 0;
    }
    return any && fa.eof() && fb.eof();
}

// The movie: the picture held for kFrames frames, a ball moving over it,
// as JPEG in a QuickTime file.
bool makeMovie(const std::string& picture, const std::string& movie) {
    const Run run = runProgram(kLaunch, {"-q",
                                         "compositor",
                                         "name=c",
                                         "!",
                                         "videoconvert",
                                         "!",
                                         "video/x-raw,format=I420",
                                         "!",
                                         "jpegenc",
                                         "quality=85",
                                         "!",
                                         "qtmux",
                                         "!",
                                         "filesink",
                                         "location=" + movie,
                                         "filesrc",
                                         "location=" + picture,
                                         "!",
                                         "rawvideoparse",
                                         "format=rgba",
                                         "width=" + std::to_string(kPictureWidth),
                                         "height=" + std::to_string(kPictureHeight),
                                         "framerate=" + std::to_string(kRate) + "/1",
                                         "!",
                                         "imagefreeze",
                                         "num-buffers=" + std::to_string(kFrames),
                                         "!",
                                         "videoconvert",
                                         "!",
                                         "c.",
                                         "videotestsrc",
                                         "pattern=ball",
                                         "background-color=0",
                                         "num-buffers=" + std::to_string(kFrames),
                                         "!",
                                         "video/x-raw,format=BGRA," + sizeCaps(),
                                         "!",
                                         "c."});
    struct stat st;
    return run.status == 0 && stat(movie.c_str(), &st) == 0 && st.st_size > 0;
}

// The CPU of GStreamer's decode of the movie into `format`, best of kRuns,
// in ms per frame; -1 when it fails.
double decodeMs(const std::string& movie, const char* format) {
    double best = -1;
    for (int i = 0; i < kRuns; ++i) {
        const Run run =
            runProgram(kLaunch, {"-q", "filesrc", "location=" + movie, "!", "qtdemux", "!",
                                 "jpegdec", "!", "videoconvert", "!",
                                 std::string("video/x-raw,format=") + format, "!", "fakesink"});
        if (run.status != 0)
            return -1;
        if (best < 0 || run.cpuSeconds < best)
            best = run.cpuSeconds;
    }
    return best * 1000 / kFrames;
}

struct Contender {
    std::string name;
    std::string program;
    std::vector<std::string> args;
    std::string output;
    Run best; // the best wall and the best CPU, each of its own run
};

void keep(Run& best, const Run& run, bool first) {
    if (first || run.wallSeconds < best.wallSeconds)
        best.wallSeconds = run.wallSeconds;
    if (first || run.cpuSeconds < best.cpuSeconds)
        best.cpuSeconds = run.cpuSeconds;
}

// One untimed run of each (GStreamer's registry, the movie in the page
// cache), then kRuns rounds of all of them in turn.
bool runAll(std::vector<Contender>& all) {
    for (int round = -1; round < kRuns; ++round)
        for (Contender& c : all) {
            const Run run = runProgram(c.program, c.args);
            if (run.status != 0) {
                std::fprintf(stderr, "bench_export: %s exited with %d\n", c.name.c_str(),
                             run.status);
                return false;
            }
            if (round >= 0)
                keep(c.best, run, round == 0);
        }
    return true;
}

} // namespace

bool benchMovieInput(const std::string& folder, const std::vector<uint8_t>& rgba,
                     const char* picture, const Stages& stages, int threads) {
    // keoenc and keomux of this build, for gst-launch-1.0.
    const char* path = std::getenv("GST_PLUGIN_PATH");
    setenv(
        "GST_PLUGIN_PATH",
        (std::string(KEO_GST_PLUGIN_DIR) + (path && *path ? ":" + std::string(path) : "")).c_str(),
        1);
    const std::string still = folder + "/picture.rgba", movie = folder + "/movie.mov";
    if (!writeFile(still, rgba) || !makeMovie(still, movie)) {
        std::fprintf(stderr, "bench_export: gst-launch-1.0 could not make the MJPEG movie\n");
        return false;
    }
    std::vector<Contender> all;
    for (const Keo& keo : keosToRun()) {
        const std::string out = folder + "/" + std::to_string(all.size()) + "-keo.mov";
        all.push_back(
            {keo.name,
             keo.path,
             {"-q", "export", "--input", movie, "--threads", std::to_string(threads), "-o", out},
             out,
             {}});
    }
    const std::string piped = folder + "/pipeline.mov";
    all.push_back(
        {"the pipeline",
         kLaunch,
         {"-q", "filesrc", "location=" + movie, "!", "qtdemux", "!", "jpegdec", "!", "videoconvert",
          "!", "keoenc", "layout=dxt24", "lzf=true", "threads=" + std::to_string(threads), "!",
          "keomux", "!", "filesink", "location=" + piped},
         piped,
         {}});
    const double toRGBA = decodeMs(movie, "RGBA"), toARGB = decodeMs(movie, "ARGB");
    if (toRGBA < 0 || toARGB < 0 || !runAll(all))
        return false;

    std::printf("\nkeo export --input of a %d s %dx%d MJPEG movie (%d frames of the %s and a "
                "moving ball), DXT24+LZF, %d threads\n",
                kSeconds, kPictureWidth, kPictureHeight, kFrames, picture, threads);
    std::printf("stage, CPU ms per frame on one thread                  keo   pipeline\n");
    std::printf("  %-50s %6.2f %8.2f\n", "qtdemux, jpegdec, videoconvert (to RGBA / ARGB)", toRGBA,
                toARGB);
    std::printf("  %-50s %6.2f %8s\n", "host render (into bottom-up BGRA)", stages.render, "-");
    std::printf("  %-50s %6.2f %8s\n", "exporter conversion (BGRA to ARGB)", stages.conversion,
                "-");
    std::printf("  %-50s %6.2f %8.2f\n", "encode", stages.encode1, stages.encode1);
    std::printf("  %-50s %6.2f %8.2f\n", "write", stages.write, stages.write);
    const double keoSum =
        toRGBA + stages.render + stages.conversion + stages.encode1 + stages.write;
    const double pipeSum = toARGB + stages.encode1 + stages.write;
    std::printf("  %-50s %6.2f %8.2f\n", "sum", keoSum, pipeSum);

    const Contender& pipeline = all.back();
    std::printf("whole runs, best of %d, interleaved      wall s    CPU s   CPU ms/frame\n", kRuns);
    for (const Contender& c : all)
        std::printf("  %-36s %8.3f %8.3f %10.2f\n", c.name.c_str(), c.best.wallSeconds,
                    c.best.cpuSeconds, c.best.cpuSeconds * 1000 / kFrames);
    bool met = true;
    for (size_t i = 0; i + 1 < all.size(); ++i) {
        const Contender& c = all[i];
        const double ratio = c.best.wallSeconds / pipeline.best.wallSeconds;
        const bool same = sameFiles(c.output, pipeline.output);
        std::printf("%s: %.2f x the pipeline's wall time (CPU %.2f x, %+.2f ms a frame), at most "
                    "%.2f: %s; the same bytes as the pipeline's: %s\n",
                    c.name.c_str(), ratio, c.best.cpuSeconds / pipeline.best.cpuSeconds,
                    (c.best.cpuSeconds - pipeline.best.cpuSeconds) * 1000 / kFrames, kMaxRatio,
                    ratio <= kMaxRatio ? "met" : "NOT met", same ? "yes" : "NO");
        // The goal is the first keo's; a keo from before is shown beside it.
        if (i == 0)
            met = ratio <= kMaxRatio && same;
    }
    return met;
}

} // namespace keo::bench
