// keodec's decode rate against the codec's own: the photograph's frame
// payloads pushed one by one through the element (GstHarness, the output
// buffer handed back to the element's pool after each frame) beside
// DecodeFramePayloadInto of the same payloads into a reused frame, exactly as
// bench_frame_request measures the codec's decode, all in one run.
//
// The element runs twice: with ARGB output, the codec's own order, and with
// BGRA, the order most displays and encoders ask for, which costs one more
// pass over the frame. The photograph is DXT1 + LZF, DXT24 + LZF and (with
// an alpha gradient) DXT5 + LZF, as bench_frame_request writes it; without
// it (bench/make_photo.sh not run) the
// seeded natural-looking picture of the encoder tests stands in, and the
// summary says so. The summary gives the best repetition in CPU time, which a
// shared machine disturbs least (of the whole process: the codec's decode
// workers included), and the goal: keodec (ARGB) within 10% of the codec's
// decode. With "decode-ahead" keodec decodes frames two at a time, one on a
// decode worker and one on its own thread; that row is per frame, in the
// wall time that the pairs save.
#include <benchmark/benchmark.h>
#include <gst/check/gstharness.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchPhoto.h"
#include "BestTimes.h"
#include "base/ByteBuffer.h"
#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "codec/encode_picture.h"
#include "gst/KEODec.h"

namespace {

constexpr int kWidth = keo::bench::kPictureWidth;
constexpr int kHeight = keo::bench::kPictureHeight;

struct Payload {
    std::string name;
    std::vector<unsigned char> bytes;
};

// The same call and frame as bench_frame_request's decode: the stand-in
// host's row pitch, bottom row first; and the same with the LZF output kept
// from one frame to the next, as the importer and keodec keep it.
void BM_CodecDecodeInto(benchmark::State& state, const Payload* payload, bool keepScratch) {
    const long long pitch = kWidth * 4 + 16;
    std::vector<unsigned char> frame(static_cast<size_t>(pitch) * kHeight);
    keo::ByteBuffer scratch;
    for (auto _ : state) {
        if (DecodeFramePayloadInto(payload->bytes.data(),
                                   static_cast<unsigned>(payload->bytes.size()), kWidth, kHeight,
                                   frame.data(), pitch, true,
                                   keepScratch ? &scratch : nullptr) != kKEODecodeOK) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    keo::release(scratch);
}

// One frame pushed per iteration; with decode-ahead the frames come out in
// pairs, so every frame out is pulled when it is there.
void BM_KeoDec(benchmark::State& state, const Payload* payload, const char* format, bool ahead) {
    GstHarness* h = gst_harness_new("keodec");
    g_object_set(h->element, "decode-ahead", ahead, nullptr);
    gst_harness_set_src_caps_str(h, ("video/x-keo, width=" + std::to_string(kWidth) +
                                     ", height=" + std::to_string(kHeight) + ", framerate=25/1")
                                        .c_str());
    gst_harness_set_sink_caps_str(h, (std::string("video/x-raw, format=") + format).c_str());
    // The payload's own bytes, wrapped: the element reads them where they lie.
    auto wrap = [&] {
        return gst_buffer_new_wrapped_full(
            GST_MEMORY_FLAG_READONLY, const_cast<unsigned char*>(payload->bytes.data()),
            payload->bytes.size(), 0, payload->bytes.size(), nullptr, nullptr);
    };
    for (auto _ : state) {
        if (gst_harness_push(h, wrap()) != GST_FLOW_OK) {
            state.SkipWithError("keodec refused the frame");
            break;
        }
        while (GstBuffer* out = gst_harness_try_pull(h)) {
            benchmark::DoNotOptimize(out);
            gst_buffer_unref(out);
        }
    }
    gst_harness_teardown(h);
}

Payload encode(const char* name, const std::vector<unsigned char>& picture, int transparency,
               int optimizeFor) {
    Payload p{name, {}};
    uint64_t capacity = 0;
    KEOMaxFramePayloadSize(kWidth, kHeight, &capacity);
    p.bytes.resize(capacity);
    const int length = CompressDXTFrame(picture.data(), p.bytes.data(), kWidth, kHeight, kWidth * 4,
                                        transparency, optimizeFor, 2);
    p.bytes.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return p;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    gst_init(nullptr, nullptr);
    GST_ELEMENT_REGISTER(keodec, nullptr);

    std::vector<unsigned char> picture;
    const bool havePhoto = keo::bench::loadPhoto(&picture);
    if (!havePhoto) {
        std::fprintf(stderr, "bench_gst_decode: no photograph at %s, synthetic picture instead\n",
                     keo::bench::photoPath().c_str());
        picture = encode_test::naturalPicture(kWidth, kHeight, 20240611, false);
    }
    const std::vector<Payload> payloads = {
        encode("DXT1+LZF", picture, 0, 1), encode("DXT24+LZF", picture, 0, 0),
        encode("DXT5+LZF", keo::bench::withAlphaGradient(picture), 1, 1)};
    for (const Payload& p : payloads)
        if (p.bytes.empty()) {
            std::fprintf(stderr, "bench_gst_decode: cannot encode %s\n", p.name.c_str());
            return 1;
        }

    auto settle = [](benchmark::internal::Benchmark* bm) {
        bm->Unit(benchmark::kMillisecond)->Repetitions(5)->MinTime(0.2)->MeasureProcessCPUTime();
    };
    for (const Payload& p : payloads) {
        settle(benchmark::RegisterBenchmark(("decode_into/" + p.name).c_str(), BM_CodecDecodeInto,
                                            &p, false));
        settle(benchmark::RegisterBenchmark(("decode_into+scratch/" + p.name).c_str(),
                                            BM_CodecDecodeInto, &p, true));
        for (const char* format : {"ARGB", "BGRA"})
            settle(benchmark::RegisterBenchmark(
                ("keodec/" + std::string(format) + "/" + p.name).c_str(), BM_KeoDec, &p, format,
                false));
        settle(benchmark::RegisterBenchmark(("keodec-ahead/ARGB/" + p.name).c_str(), BM_KeoDec, &p,
                                            "ARGB", true));
    }
    keo::bench::BestTimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n1920x1080 %s frame          cpu ms   wall ms  x decode_into\n",
                havePhoto ? "photograph" : "synthetic ");
    for (const Payload& p : payloads) {
        const double codec = reporter.best("decode_into/" + p.name).cpuMs;
        for (const std::string row : {"decode_into/", "decode_into+scratch/", "keodec/ARGB/",
                                      "keodec/BGRA/", "keodec-ahead/ARGB/"}) {
            const keo::bench::BestTime t = reporter.best(row + p.name);
            if (t.cpuMs >= 0)
                std::printf("%-32s %9.3f %9.3f %9.2f\n", (row + p.name).c_str(), t.cpuMs, t.wallMs,
                            codec > 0 ? t.cpuMs / codec : 0.0);
        }
    }
    std::printf("\ngoal: keodec (ARGB) within 10%% of the codec's decode_into\n");
    for (const Payload& p : payloads) {
        const double codec = reporter.best("decode_into/" + p.name).cpuMs;
        const double element = reporter.best("keodec/ARGB/" + p.name).cpuMs;
        if (codec > 0 && element >= 0)
            std::printf("%-10s keodec %.2f x decode_into: %s\n", p.name.c_str(), element / codec,
                        element <= 1.10 * codec ? "met" : "NOT met");
    }
    return 0;
}
