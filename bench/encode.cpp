// Frame encode speed and quality: one 1920x1080 natural-looking picture
// (seeded, as in the encoder tests) through CompressDXTFrame as DXT1, DXT5
// and DXT24 on 1 and 2 threads, each with LZF tried as an export does.
//
// Each benchmark reports wall-clock ms per frame, the sample size, and the
// PSNR of the decoded frame against the source (R, G, B; DXT5 also alpha).
// A summary follows the table; DXT24 must beat DXT1 there.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "codec/encode_picture.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr uint32_t kSeed = 20240611;

struct Variant {
    const char* name;
    int transparency, optimizeFor, threads;
};
const Variant kVariants[] = {
    {"DXT1", 0, 1, 1},
    {"DXT5", 1, 1, 1},
    {"DXT24 1 thread", 0, 0, 1},
    {"DXT24 2 threads", 0, 0, 2},
};
constexpr int kVariantCount = sizeof kVariants / sizeof kVariants[0];

struct Result {
    double msPerFrame = 0, psnr = 0, alphaPsnr = 0;
    int sampleBytes = 0;
};
Result g_results[kVariantCount];

const std::vector<unsigned char>& picture(bool alpha) {
    static const std::vector<unsigned char> opaque =
        encode_test::naturalPicture(kWidth, kHeight, kSeed, false);
    static const std::vector<unsigned char> translucent =
        encode_test::naturalPicture(kWidth, kHeight, kSeed, true);
    return alpha ? translucent : opaque;
}

void BM_EncodeFrame(benchmark::State& state) {
    const int index = static_cast<int>(state.range(0));
    const Variant& v = kVariants[index];
    const std::vector<unsigned char>& source = picture(v.transparency != 0);
    uint64_t capacity = 0;
    KEOMaxFramePayloadSize(kWidth, kHeight, &capacity);
    std::vector<unsigned char> dest(capacity);

    int length = 0;
    for (auto _ : state) {
        length = CompressDXTFrame(source.data(), dest.data(), kWidth, kHeight, 0, v.transparency,
                                  v.optimizeFor, v.threads);
        benchmark::DoNotOptimize(dest.data());
    }
    if (length == 0) {
        state.SkipWithError("encode failed");
        return;
    }

    Result& r = g_results[index];
    unsigned char* decoded = nullptr;
    if (DecodeFramePayload(dest.data(), static_cast<unsigned>(length), kWidth, kHeight, &decoded) !=
        kKEODecodeOK) {
        state.SkipWithError("decode failed");
        return;
    }
    const size_t pixels = size_t(kWidth) * kHeight;
    r.psnr = encode_test::psnr(source.data(), decoded, pixels);
    r.alphaPsnr = v.transparency ? encode_test::psnr(source.data(), decoded, pixels, true) : 0;
    std::free(decoded);
    r.sampleBytes = length;
    state.counters["PSNR_dB"] = r.psnr;
    state.counters["sample_KB"] = length / 1024.0;
    state.SetLabel(v.name);
}

BENCHMARK(BM_EncodeFrame)
    ->DenseRange(0, kVariantCount - 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);

// Keeps the console table and notes the real time per frame of each run.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Names read "BM_EncodeFrame/<variant>/min_time:.../real_time".
            const std::string name = run.benchmark_name();
            const size_t slash = name.find('/');
            if (slash == std::string::npos || run.iterations == 0)
                continue;
            const int index = std::atoi(name.c_str() + slash + 1);
            if (index >= 0 && index < kVariantCount)
                g_results[index].msPerFrame = run.GetAdjustedRealTime();
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%dx%d natural-looking picture, seed %u\n", kWidth, kHeight, kSeed);
    std::printf("%-16s %10s %12s %10s\n", "layout", "ms/frame", "sample KB", "PSNR dB");
    for (int i = 0; i < kVariantCount; ++i) {
        const Result& r = g_results[i];
        std::printf("%-16s %10.2f %12.1f %10.2f", kVariants[i].name, r.msPerFrame,
                    r.sampleBytes / 1024.0, r.psnr);
        if (kVariants[i].transparency)
            std::printf("   (alpha %.2f)", r.alphaPsnr);
        std::printf("\n");
    }
    const double gain = g_results[2].psnr - g_results[0].psnr;
    std::printf("DXT24 %s DXT1 by %.2f dB\n", gain > 0 ? "beats" : "DOES NOT beat", gain);
    return 0;
}
