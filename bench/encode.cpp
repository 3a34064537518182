// Frame encode speed and quality on a 1920x1080 picture: a natural-looking
// one made from a seed (as in the encoder tests), and a photograph when
// bench/make_photo.sh has left one in build/ (or in $KEO_BENCH_PHOTO).
//
// Measured in one run: a memcpy of the frame, the bare block encoders (stb
// DXT1 in high-quality mode, the DXT24 encoder on 1 and 2 worker threads),
// and whole CompressDXTFrame calls as an export makes them (DXT1, DXT5,
// DXT24, with LZF tried), each on 1 and 2 threads; the summary checks that 2
// threads encode DXT1 and DXT5 frames at least 1.8 times as fast as 1. Each figure is the best of
// several repetitions, also given as a ratio to the memcpy; PSNR of the decoded frame against its
// source is over R, G, B (DXT5 also alpha). On a busy machine compare the
// ratios, and the thread scaling only when `uptime` shows the cores idle.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchPhoto.h"
#include "BestTimes.h"
#include "codec/DXT1DXT5Encode.h"
#include "codec/EncoderThreads.h"
#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "codec/encode_picture.h"

namespace {

using keo::bench::kPictureBytes, keo::bench::kPictureHeight, keo::bench::kPictureWidth,
    keo::bench::kSyntheticSeed;
// Two threads against one for DXT1 and DXT5 frames, at least.
constexpr double kMinThreadSpeedUp = 1.8;

struct Picture {
    std::string name;
    std::vector<unsigned char> opaque, translucent;
};

// The photograph of make_photo.sh; it has no alpha of its own, so the
// translucent version borrows the synthetic picture's.
bool loadPhoto(Picture* picture) {
    if (!keo::bench::loadPhoto(&picture->opaque))
        return false;
    picture->name = "photo";
    picture->translucent = picture->opaque;
    const auto synthetic =
        encode_test::naturalPicture(kPictureWidth, kPictureHeight, kSyntheticSeed, true);
    for (size_t i = 0; i < kPictureBytes; i += 4)
        picture->translucent[i] = synthetic[i];
    return true;
}

std::vector<Picture>& pictures() {
    static std::vector<Picture> all = [] {
        std::vector<Picture> list(1);
        list[0].name = "synthetic";
        list[0].opaque =
            encode_test::naturalPicture(kPictureWidth, kPictureHeight, kSyntheticSeed, false);
        list[0].translucent =
            encode_test::naturalPicture(kPictureWidth, kPictureHeight, kSyntheticSeed, true);
        Picture photo;
        if (loadPhoto(&photo))
            list.push_back(std::move(photo));
        return list;
    }();
    return all;
}

enum Work { kMemcpy, kBlocksDXT1, kBlocksDXT24, kFrameDXT1, kFrameDXT5, kFrameDXT24 };

struct Job {
    std::string name;
    Work work;
    int threads;
    int picture;
    double bestMs = -1;
    double psnr = 0, alphaPsnr = 0;
    int sampleBytes = 0;
};
std::vector<Job> g_jobs;

double decodedPsnr(const unsigned char* sample, int length, const unsigned char* source, bool alpha,
                   double* alphaPsnr) {
    unsigned char* decoded = nullptr;
    if (DecodeFramePayload(sample, static_cast<unsigned>(length), kPictureWidth, kPictureHeight,
                           &decoded) != kKEODecodeOK)
        return 0;
    const size_t pixels = size_t(kPictureWidth) * kPictureHeight;
    const double p = encode_test::psnr(source, decoded, pixels);
    if (alpha)
        *alphaPsnr = encode_test::psnr(source, decoded, pixels, true);
    std::free(decoded);
    return p;
}

void BM_Job(benchmark::State& state, size_t index) {
    Job& job = g_jobs[index];
    const Picture& picture = pictures()[job.picture];
    const bool alpha = job.work == kFrameDXT5;
    const std::vector<unsigned char>& source = alpha ? picture.translucent : picture.opaque;
    uint64_t capacity = 0;
    KEOMaxFramePayloadSize(kPictureWidth, kPictureHeight, &capacity);
    std::vector<unsigned char> dest(capacity);
    std::vector<unsigned char> copy(kPictureBytes);

    int length = 0;
    for (auto _ : state) {
        switch (job.work) {
        case kMemcpy:
            std::memcpy(copy.data(), source.data(), kPictureBytes);
            break;
        case kBlocksDXT1:
            stbCompressARGB32(dest.data(), source.data(), kPictureWidth, kPictureHeight, 0, false);
            break;
        case kBlocksDXT24:
            stbCompressARGB32_to24_threaded(job.threads, dest.data(), source.data(), kPictureWidth,
                                            kPictureHeight, 0, false);
            break;
        case kFrameDXT1:
        case kFrameDXT5:
        case kFrameDXT24:
            length = CompressDXTFrame(source.data(), dest.data(), kPictureWidth, kPictureHeight, 0,
                                      job.work == kFrameDXT5 ? 1 : 0,
                                      job.work == kFrameDXT24 ? 0 : 1, job.threads);
            break;
        }
        benchmark::DoNotOptimize(dest.data());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    if (length > 0) {
        job.sampleBytes = length;
        job.psnr = decodedPsnr(dest.data(), length, source.data(), alpha, &job.alphaPsnr);
        state.counters["PSNR_dB"] = job.psnr;
    }
}

const Job* find(int picture, Work work, int threads) {
    for (const Job& job : g_jobs)
        if (job.picture == picture && job.work == work && job.threads == threads)
            return &job;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const struct {
        const char* name;
        Work work;
        int threads;
    } kinds[] = {
        {"memcpy", kMemcpy, 1},
        {"blocks/stb DXT1 HIGHQUAL", kBlocksDXT1, 1},
        {"blocks/DXT24 1 thread", kBlocksDXT24, 1},
        {"blocks/DXT24 2 threads", kBlocksDXT24, 2},
        {"frame/DXT1 1 thread", kFrameDXT1, 1},
        {"frame/DXT1 2 threads", kFrameDXT1, 2},
        {"frame/DXT5 1 thread", kFrameDXT5, 1},
        {"frame/DXT5 2 threads", kFrameDXT5, 2},
        {"frame/DXT24 1 thread", kFrameDXT24, 1},
        {"frame/DXT24 2 threads", kFrameDXT24, 2},
    };
    for (size_t p = 0; p < pictures().size(); ++p)
        for (const auto& kind : kinds)
            g_jobs.push_back({pictures()[p].name + "/" + kind.name, kind.work, kind.threads,
                              static_cast<int>(p)});
    for (size_t i = 0; i < g_jobs.size(); ++i)
        benchmark::RegisterBenchmark(g_jobs[i].name.c_str(), BM_Job, i)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Repetitions(3)
            ->MinTime(0.3);

    keo::bench::BestTimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (Job& job : g_jobs)
        job.bestMs = reporter.best(job.name).wallMs;

    for (size_t p = 0; p < pictures().size(); ++p) {
        const Job* copy = find(static_cast<int>(p), kMemcpy, 1);
        const double memcpyMs = copy ? copy->bestMs : -1;
        std::printf("\n%dx%d %s picture\n", kPictureWidth, kPictureHeight,
                    pictures()[p].name.c_str());
        std::printf("%-36s %9s %9s %10s %9s\n", "work", "best ms", "x memcpy", "sample KB",
                    "PSNR dB");
        for (const Job& job : g_jobs) {
            if (job.picture != static_cast<int>(p) || job.bestMs < 0)
                continue;
            std::printf("%-36s %9.2f %9.1f", job.name.c_str(), job.bestMs,
                        memcpyMs > 0 ? job.bestMs / memcpyMs : 0.0);
            if (job.sampleBytes > 0)
                std::printf(" %10.1f %9.2f", job.sampleBytes / 1024.0, job.psnr);
            if (job.work == kFrameDXT5)
                std::printf("   (alpha %.2f)", job.alphaPsnr);
            std::printf("\n");
        }
        const Job* dxt1 = find(static_cast<int>(p), kBlocksDXT1, 1);
        const Job* one = find(static_cast<int>(p), kBlocksDXT24, 1);
        const Job* two = find(static_cast<int>(p), kBlocksDXT24, 2);
        if (dxt1 && one && two && dxt1->bestMs > 0 && one->bestMs > 0 && two->bestMs > 0)
            std::printf("DXT24 blocks, 1 thread: %.2fx the stb DXT1 time; 2 threads: %.2fx "
                        "faster than 1\n",
                        one->bestMs / dxt1->bestMs, one->bestMs / two->bestMs);
        const Job* f1 = find(static_cast<int>(p), kFrameDXT1, 1);
        const Job* f24 = find(static_cast<int>(p), kFrameDXT24, 1);
        if (f1 && f24 && f1->sampleBytes > 0 && f24->sampleBytes > 0) {
            const double gain = f24->psnr - f1->psnr;
            std::printf("DXT24 %s DXT1 by %.2f dB\n", gain > 0 ? "beats" : "DOES NOT beat", gain);
        }
        for (Work work : {kFrameDXT1, kFrameDXT5, kFrameDXT24}) {
            const Job* single = find(static_cast<int>(p), work, 1);
            const Job* pair = find(static_cast<int>(p), work, 2);
            if (!single || !pair || single->bestMs <= 0 || pair->bestMs <= 0)
                continue;
            const double speedUp = single->bestMs / pair->bestMs;
            const bool goal = work != kFrameDXT24;
            std::printf("frame %s, 2 threads: %.2fx as fast as 1%s\n",
                        work == kFrameDXT1   ? "DXT1"
                        : work == kFrameDXT5 ? "DXT5"
                                             : "DXT24",
                        speedUp,
                        !goal                          ? ""
                        : speedUp >= kMinThreadSpeedUp ? " (goal 1.8: met)"
                                                       : " (goal 1.8: NOT met)");
        }
    }
    return 0;
}
