// Writing KEO movies: the cost of one chunk, and of closing a movie whose
// tables had to grow.
//
// Appending a chunk is one write, one flush and three table entries stored
// at their index; tables double relative to the index they grow for, so the
// time per frame must not rise with the number of frames already written:
// compare AppendFrames/1000 with AppendFrames/200000 (items per second).
// Close merges the sample-to-chunk runs once and writes every table.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "container/MovFile.h"

namespace {

std::string benchPath() {
    return "/tmp/keo_bench_write_" + std::to_string(getpid()) + ".mov";
}

char kZuvm[] = "ZUVM";

void AppendFrames(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    std::vector<unsigned char> frame(1024, 0x5A);
    const std::string path = benchPath();
    for (auto _ : state) {
        MovFile movie;
        movie.openWrite(path.c_str(), kZuvm, 64, 64, {25, 1}, 1, 0, 0, 0, 0);
        for (int i = 0; i < frames; i++)
            movie.writeFrame(0, static_cast<int>(frame.size()), frame.data());
        state.PauseTiming();
        movie.close();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * frames);
    std::remove(path.c_str());
}
BENCHMARK(AppendFrames)->Arg(1000)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

// Video frames and audio blocks alternating, then close: the movie atom of
// two tracks with `range` chunks each.
void CloseInterleaved(benchmark::State& state) {
    const int chunks = static_cast<int>(state.range(0));
    std::vector<unsigned char> frame(256, 0x11);
    std::vector<unsigned char> block(1601 * 4, 0x22);
    const std::string path = benchPath();
    for (auto _ : state) {
        state.PauseTiming();
        MovFile movie;
        movie.openWrite(path.c_str(), kZuvm, 64, 64, {30000, 1001}, 1, 1, 48000, 2, 16);
        for (int i = 0; i < chunks; i++) {
            movie.writeFrame(0, static_cast<int>(frame.size()), frame.data());
            LargeFp* fp = movie.prepareToWriteAudioSample();
            fwrite_L(block.data(), block.size(), 1, fp);
            movie.endWriteAudioSample(1601);
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(movie.close());
    }
    std::remove(path.c_str());
}
BENCHMARK(CloseInterleaved)->Arg(1000)->Arg(50000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
