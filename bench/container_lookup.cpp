// Opening a 100,000-frame KEO movie and looking up frame offsets and sizes.
//
// The movie is built in code (one 60-byte frame per chunk, one merged
// sample-to-chunk entry) into a temporary file. A lookup walks the
// sample-to-chunk runs and the samples before the frame inside its chunk, so
// with one frame per chunk its cost must not grow with the frame number:
// compare LookupOneFrame/0 with LookupOneFrame/99999. The same movie with one
// size for every sample is indexed by chunk, and a lookup searches the chunks:
// LookupSharedSize/N against LookupOneFrame/N.
#include <benchmark/benchmark.h>

#include "container/MovFile.h"
#include "support/MovieBuilder.h"

using namespace keotest;

namespace {

const int kFrames = 100000;

// The movie with a size per sample, or with one size for all.
Bytes movieBytes(bool sharedSize) {
    Movie m = baselineMovie();
    Atom& mdat = m.mdat();
    mdat.data.clear();
    VideoTrack v;
    v.tables.stts = {{kFrames, 24}};
    v.tables.stsc = {{1, 1, 1}};
    Bytes frame = dxt1Frame(0);
    for (int i = 0; i < kFrames; i++) {
        v.tables.sizes.push_back(static_cast<uint32_t>(frame.size()));
        v.tables.offsets.push_back(16 + frame.size() * i);
        append(mdat.data, frame);
    }
    if (sharedSize) {
        v.tables.sampleSize = static_cast<uint32_t>(frame.size());
        v.tables.sampleCount = kFrames;
        v.tables.sizes.clear();
    }
    *m.find("trak") = videoTrak(v);
    return m.bytes();
}

const TempFile& movieFile(bool sharedSize = false) {
    static TempFile perSample(movieBytes(false));
    static TempFile shared(movieBytes(true));
    return sharedSize ? shared : perSample;
}

void OpenMovie(benchmark::State& state) {
    const char* path = movieFile().path.c_str();
    for (auto _ : state) {
        MovFile movie;
        benchmark::DoNotOptimize(movie.openRead(path));
        movie.close();
    }
}
BENCHMARK(OpenMovie)->Unit(benchmark::kMillisecond);

void LookupOneFrame(benchmark::State& state) {
    MovFile movie;
    movie.openRead(movieFile().path.c_str());
    const int frame = static_cast<int>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(movie.frameOffset(frame));
        benchmark::DoNotOptimize(movie.frameSize(frame));
    }
    movie.close();
}
BENCHMARK(LookupOneFrame)->Arg(0)->Arg(kFrames / 2)->Arg(kFrames - 1);

void LookupSharedSize(benchmark::State& state) {
    MovFile movie;
    movie.openRead(movieFile(true).path.c_str());
    const int frame = static_cast<int>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(movie.frameOffset(frame));
        benchmark::DoNotOptimize(movie.frameSize(frame));
    }
    movie.close();
}
BENCHMARK(LookupSharedSize)->Arg(0)->Arg(kFrames / 2)->Arg(kFrames - 1);

void LookupEveryFrame(benchmark::State& state) {
    MovFile movie;
    movie.openRead(movieFile().path.c_str());
    for (auto _ : state) {
        for (int i = 0; i < kFrames; i++) {
            benchmark::DoNotOptimize(movie.frameOffset(i));
            benchmark::DoNotOptimize(movie.frameSize(i));
        }
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    movie.close();
}
BENCHMARK(LookupEveryFrame)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
