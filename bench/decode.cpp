// Frame decode speed: a 1920x1080 frame of each block layout, plain and LZF,
// against a memcpy of the same 8,294,400 picture bytes in the same run.
//
// The frames are made from a seed without an encoder: every block's end
// colours follow smooth gradients with some texture, and its indices a ramp
// in one of four directions, with flat and noisy blocks mixed in, so the
// block data looks like a natural picture's and LZF finds some repeats.
// Each frame is decoded both ways the importer can: DecodeFramePayload, which
// allocates the picture, and DecodeFramePayloadInto, straight into a reused
// bottom-up frame with a padded row pitch as a host hands out. liblzf's own
// share is measured alone on the DXT1 block data. When bench/make_photo.sh
// has left a photograph in build/, it is also encoded with the codec's own
// encoders and those frames are decoded too. After the usual table a summary
// gives the best ms per frame of the repetitions and the ratio to the
// memcpy; on a busy machine compare ratios, not milliseconds.
//
// A 3840x2160 frame (the synthetic block rows tiled twice each way) is also
// decoded into a host frame with the block decode on one thread and split
// over the processor's cores, in wall time, which is what the split saves.
#include <benchmark/benchmark.h>
#include <lzf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "BenchPhoto.h"
#include "BestTimes.h"
#include "codec/BlockLayout.h"
#include "codec/DXT1DXT5Encode.h"
#include "codec/DXT24Encode.h"
#include "codec/DecodeThreads.h"
#include "codec/FramePayload.h"

namespace {

using keo::bench::kPictureBytes, keo::bench::kPictureHeight, keo::bench::kPictureWidth,
    keo::bench::kSyntheticSeed;

using Layout = KEOBlockLayout;

struct Rgb {
    int r, g, b;
};

int clamp8(double v) {
    return static_cast<int>(std::lround(std::min(255.0, std::max(0.0, v))));
}

// The smooth part of the picture at pixel (x, y).
Rgb baseColour(double x, double y) {
    return {clamp8(120 + 80 * std::sin(x / 310.0 + 0.4) + 40 * std::cos(y / 170.0)),
            clamp8(110 + 70 * std::sin((x + y) / 420.0 + 1.1)),
            clamp8(100 + 60 * std::cos(x / 250.0 - y / 330.0))};
}

int baseAlpha(double x, double y) {
    const double dx = (x - kPictureWidth / 2.0) / kPictureWidth,
                 dy = (y - kPictureHeight / 2.0) / kPictureHeight;
    return clamp8(255 - 600 * (dx * dx + dy * dy));
}

// 16 two-bit ramp levels (0 = low end, 3 = high end) for one of four
// directions, or random levels for a noisy block.
uint32_t rampLevels(int direction, std::mt19937& rng) {
    uint32_t levels = 0;
    for (int k = 0; k < 16; ++k) {
        const int i = k % 4, j = k / 4;
        int level;
        switch (direction) {
        case 0:
            level = i;
            break;
        case 1:
            level = j;
            break;
        case 2:
            level = (i + j) / 2;
            break;
        case 3:
            level = (3 - i + j) / 2;
            break;
        default:
            level = static_cast<int>(rng() & 3);
        }
        levels |= static_cast<uint32_t>(level) << (2 * k);
    }
    return levels;
}

// Ramp levels low..high as four-colour palette indices: 1, 3, 2, 0.
uint32_t levelsToIndices(uint32_t levels) {
    static const uint32_t kIndexOfLevel[4] = {1, 3, 2, 0};
    uint32_t indices = 0;
    for (int k = 0; k < 16; ++k)
        indices |= kIndexOfLevel[(levels >> (2 * k)) & 3] << (2 * k);
    return indices;
}

uint16_t pack565(const Rgb& c) {
    return static_cast<uint16_t>((c.r >> 3) << 11 | (c.g >> 2) << 5 | (c.b >> 3));
}

void put16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// An 8-byte DXT5-style alpha block: eight-value mode around `alpha`, codes
// following the same ramp as the colour.
void writeAlphaBlock(unsigned char* p, int alpha, int spread, uint32_t levels) {
    static const uint64_t kCodeOfLevel[4] = {1, 5, 3, 0}; // a1, 2/7, 4/7 towards a0, a0
    const int a0 = std::min(255, alpha + spread), a1 = std::max(0, alpha - spread);
    p[0] = static_cast<unsigned char>(a0);
    p[1] = static_cast<unsigned char>(a1);
    uint64_t codes = 0;
    if (a0 > a1)
        for (int k = 0; k < 16; ++k)
            codes |= kCodeOfLevel[(levels >> (2 * k)) & 3] << (3 * k);
    for (int i = 0; i < 6; ++i)
        p[2 + i] = static_cast<unsigned char>(codes >> (8 * i));
}

std::vector<unsigned char> makeBlockData(Layout layout) {
    const int blocksX = (kPictureWidth + 3) / 4, blocksY = (kPictureHeight + 3) / 4;
    std::vector<unsigned char> data(size_t(blocksX) * blocksY * KEOLayoutBlockSize(layout));
    std::mt19937 rng(kSyntheticSeed);
    unsigned char* p = data.data();
    for (int by = 0; by < blocksY; ++by) {
        for (int bx = 0; bx < blocksX; ++bx, p += KEOLayoutBlockSize(layout)) {
            const double x = 4.0 * bx + 2, y = 4.0 * by + 2;
            const Rgb base = baseColour(x, y);
            // Texture varies slowly across the frame: flat sky-like areas
            // next to detailed ones.
            const double detail = 0.5 + 0.5 * std::sin(x / 90.0) * std::cos(y / 70.0);
            const int contrast = static_cast<int>(detail * 28) + static_cast<int>(rng() % 6);
            const bool flat = contrast < 8;
            const int direction = (rng() % 10 == 0) ? 4 : static_cast<int>((bx / 8 + by / 8) % 4);
            const uint32_t levels = flat ? 0xFFFFFFFFu : rampLevels(direction, rng);
            const int spread = flat ? 0 : contrast;
            const Rgb hi{clamp8(base.r + spread), clamp8(base.g + spread * 3 / 4),
                         clamp8(base.b + spread / 2)};
            const Rgb lo{clamp8(base.r - spread), clamp8(base.g - spread * 3 / 4),
                         clamp8(base.b - spread / 2)};
            unsigned char* colour = p;
            if (layout == kKEOLayoutDXT5 || layout == kKEOLayoutDXT24Alpha) {
                writeAlphaBlock(p, baseAlpha(x, y), spread / 2, levels);
                colour = p + 8;
            }
            if (layout == kKEOLayoutDXT1 || layout == kKEOLayoutDXT5) {
                put16(colour, pack565(hi));
                put16(colour + 2, pack565(lo));
                // Equal ends put DXT1 in three-colour mode; index 0 is still c0.
                put32(colour + 4, pack565(hi) == pack565(lo) ? 0 : levelsToIndices(levels));
            } else {
                const unsigned char ends[6] = {
                    static_cast<unsigned char>(hi.r), static_cast<unsigned char>(hi.g),
                    static_cast<unsigned char>(hi.b), static_cast<unsigned char>(lo.r),
                    static_cast<unsigned char>(lo.g), static_cast<unsigned char>(lo.b)};
                std::memcpy(colour, ends, 6);
                put32(colour + 6, levelsToIndices(levels));
            }
        }
    }
    return data;
}

std::vector<unsigned char> makeSample(Layout layout, const std::vector<unsigned char>& blocks,
                                      bool lzf) {
    KEOFrameHeader header{};
    header.headerSize = kKEOFrameHeaderSize;
    header.formatVersion = 1;
    header.hasAlpha = KEOLayoutHasAlpha(layout) ? 1 : 0;
    header.isOpaque = header.hasAlpha ? 0 : 1;
    header.isDXT24 = KEOLayoutIsDXT24(layout) ? 1 : 0;
    std::vector<unsigned char> sample(kKEOFrameHeaderSize + blocks.size());
    unsigned length = 0;
    if (lzf)
        length =
            lzf_compress(blocks.data(), static_cast<unsigned>(blocks.size()),
                         sample.data() + kKEOFrameHeaderSize, static_cast<unsigned>(blocks.size()));
    header.isLZF = length != 0 ? 1 : 0;
    if (length == 0) {
        length = static_cast<unsigned>(blocks.size());
        std::memcpy(sample.data() + kKEOFrameHeaderSize, blocks.data(), length);
    }
    header.payloadSize = length;
    header.write(sample.data());
    sample.resize(kKEOFrameHeaderSize + length);
    return sample;
}

// Block data of the photograph from the encoder an export would use.
std::vector<unsigned char> encodePhoto(Layout layout, const std::vector<unsigned char>& photo) {
    std::vector<unsigned char> blocks(size_t(kPictureWidth / 4) * (kPictureHeight / 4) *
                                      KEOLayoutBlockSize(layout));
    if (layout == kKEOLayoutDXT24)
        _stbCompressARGB32_to24(blocks.data(), photo.data(), kPictureWidth, kPictureHeight, 0,
                                false);
    else
        stbCompressARGB32(blocks.data(), photo.data(), kPictureWidth, kPictureHeight, 0,
                          layout == kKEOLayoutDXT5);
    return blocks;
}

void BM_Decode(benchmark::State& state, std::vector<unsigned char> sample) {
    for (auto _ : state) {
        unsigned char* picture = nullptr;
        if (DecodeFramePayload(sample.data(), static_cast<unsigned>(sample.size()), kPictureWidth,
                               kPictureHeight, &picture) != kKEODecodeOK) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(picture);
        std::free(picture);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPictureBytes);
}

// A host frame: bottom row first, rows padded to a multiple of 64 bytes.
constexpr long long kHostPitch = (kPictureWidth * 4 + 63) / 64 * 64 + 64;

void BM_DecodeInto(benchmark::State& state, std::vector<unsigned char> sample) {
    std::vector<unsigned char> frame(static_cast<size_t>(kHostPitch) * kPictureHeight);
    for (auto _ : state) {
        if (DecodeFramePayloadInto(sample.data(), static_cast<unsigned>(sample.size()),
                                   kPictureWidth, kPictureHeight, frame.data(), kHostPitch,
                                   true) != kKEODecodeOK) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPictureBytes);
}

// liblzf alone: the floor under every LZF decode.
void BM_LZFDecompress(benchmark::State& state, std::vector<unsigned char> sample) {
    const unsigned payload = static_cast<unsigned>(sample.size()) - kKEOFrameHeaderSize;
    const unsigned blockBytes = (kPictureWidth / 4) * (kPictureHeight / 4) * 8;
    std::vector<unsigned char> blocks(blockBytes);
    for (auto _ : state) {
        if (lzf_decompress(sample.data() + kKEOFrameHeaderSize, payload, blocks.data(),
                           blockBytes) != blockBytes) {
            state.SkipWithError("lzf_decompress failed");
            break;
        }
        benchmark::DoNotOptimize(blocks.data());
        benchmark::ClobberMemory();
    }
}

constexpr int kUltraWidth = 2 * kPictureWidth;
constexpr int kUltraHeight = 2 * kPictureHeight;

// The block data of a frame twice as wide and high: every block row twice
// side by side, and the whole twice one above the other.
std::vector<unsigned char> tileTwice(const std::vector<unsigned char>& blocks, int blockSize) {
    const size_t rowBytes = size_t(kPictureWidth / 4) * blockSize;
    std::vector<unsigned char> tiled;
    tiled.reserve(blocks.size() * 4);
    for (int half = 0; half < 2; ++half)
        for (size_t at = 0; at < blocks.size(); at += rowBytes)
            for (int copy = 0; copy < 2; ++copy)
                tiled.insert(tiled.end(), blocks.begin() + static_cast<long>(at),
                             blocks.begin() + static_cast<long>(at + rowBytes));
    return tiled;
}

void BM_DecodeUltraHD(benchmark::State& state, std::vector<unsigned char> sample, int threads) {
    const long long pitch = kUltraWidth * 4 + 64;
    std::vector<unsigned char> frame(static_cast<size_t>(pitch) * kUltraHeight);
    const int saved = KEOGetDecodeThreads();
    KEOSetDecodeThreads(threads);
    for (auto _ : state) {
        if (DecodeFramePayloadInto(sample.data(), static_cast<unsigned>(sample.size()), kUltraWidth,
                                   kUltraHeight, frame.data(), pitch, true) != kKEODecodeOK) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    KEOSetDecodeThreads(saved);
}

struct Row {
    std::string name;
    size_t payloadBytes;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    std::vector<Row> rows;
    rows.push_back({"memcpy", kPictureBytes});
    const int repetitions = 5;
    auto settle = [&](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMillisecond)->Repetitions(repetitions)->MinTime(0.1);
    };
    settle(benchmark::RegisterBenchmark("memcpy", keo::bench::BM_PictureMemcpy));
    // The synthetic frames, then (when bench/make_photo.sh has run) the
    // photograph encoded by the codec's own encoders, whose block data LZF
    // treats as it treats real footage.
    std::vector<unsigned char> photo;
    const bool havePhoto = keo::bench::loadPhoto(&photo);
    for (int source = 0; source < (havePhoto ? 2 : 1); ++source)
        for (int layout = 0; layout < kKEOLayoutCount; ++layout) {
            if (source == 1 && layout == kKEOLayoutDXT24Alpha)
                continue; // no encoder writes it
            const auto blocks = source == 0 ? makeBlockData(static_cast<Layout>(layout))
                                            : encodePhoto(static_cast<Layout>(layout), photo);
            const std::string prefix = source == 0 ? "" : "photo/";
            for (bool lzf : {false, true}) {
                auto sample = makeSample(static_cast<Layout>(layout), blocks, lzf);
                const bool packed = sample[6] != 0;
                const std::string what = prefix + KEOLayoutName(static_cast<Layout>(layout)) +
                                         (packed ? "/LZF"
                                          : lzf  ? "/LZF-fell-back-plain"
                                                 : "/plain");
                const std::string name = "decode/" + what, into = "into/" + what;
                rows.push_back({name, sample.size() - kKEOFrameHeaderSize});
                settle(benchmark::RegisterBenchmark(name.c_str(), BM_Decode, sample));
                rows.push_back({into, sample.size() - kKEOFrameHeaderSize});
                settle(benchmark::RegisterBenchmark(into.c_str(), BM_DecodeInto, sample));
                if (layout == kKEOLayoutDXT1 && packed) {
                    const std::string lzfName = "lzf_decompress/" + prefix + "DXT1";
                    rows.push_back({lzfName, sample.size() - kKEOFrameHeaderSize});
                    settle(benchmark::RegisterBenchmark(lzfName.c_str(), BM_LZFDecompress,
                                                        std::move(sample)));
                }
            }
        }

    // 3840x2160: the split off, then automatic.
    std::vector<std::string> ultraRows;
    for (Layout layout : {kKEOLayoutDXT1, kKEOLayoutDXT5, kKEOLayoutDXT24}) {
        const auto sample =
            makeSample(layout, tileTwice(makeBlockData(layout), KEOLayoutBlockSize(layout)), true);
        for (int threads : {1, int(kKEODecodeThreadsAuto)}) {
            const std::string name = std::string("3840x2160/") +
                                     KEOLayoutName(static_cast<Layout>(layout)) +
                                     (threads == 1 ? "/one thread" : "/split");
            ultraRows.push_back(name);
            settle(benchmark::RegisterBenchmark(name.c_str(), BM_DecodeUltraHD, sample, threads)
                       ->UseRealTime());
        }
    }

    keo::bench::BestTimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double memcpyMs = reporter.best(rows[0].name).wallMs;
    std::printf("\n%-40s %12s %10s %10s\n", "1920x1080 frame", "input bytes", "best ms",
                "x memcpy");
    for (const Row& row : rows) {
        const double ms = reporter.best(row.name).wallMs;
        if (ms < 0)
            continue;
        std::printf("%-40s %12zu %10.3f %10.2f\n", row.name.c_str(), row.payloadBytes, ms,
                    memcpyMs > 0 ? ms / memcpyMs : 0.0);
    }
    std::printf("\n3840x2160 frame into a host frame, LZF, wall ms (%d threads when split)\n",
                KEODecodeThreadsFor(kUltraWidth, kUltraHeight));
    for (size_t i = 0; i + 1 < ultraRows.size(); i += 2) {
        const double one = reporter.best(ultraRows[i]).wallMs;
        const double split = reporter.best(ultraRows[i + 1]).wallMs;
        if (one > 0 && split > 0)
            std::printf("%-40s %10.3f\n%-40s %10.3f  (%.2fx faster)\n", ultraRows[i].c_str(), one,
                        ultraRows[i + 1].c_str(), split, one / split);
    }
    return 0;
}
