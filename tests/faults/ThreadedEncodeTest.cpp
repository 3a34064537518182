// Threaded encodes under load: several exporter threads encoding DXT24 frames
// on the shared worker pool at once. Only one threaded encode may run at a
// time; the others wait, and every frame must come out byte for byte as a
// single-thread encode makes it. Under ThreadSanitizer any unordered access of
// the hand-over between callers and workers is a report.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "codec/EncoderThreads.h"
#include "codec/FrameEncoder.h"

namespace {

std::vector<unsigned char> picture(int width, int height, uint32_t seed) {
    std::vector<unsigned char> p(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < p.size(); i++) {
        seed = seed * 1664525u + 1013904223u;
        // Smooth rows with some noise, so blocks are neither flat nor random.
        p[i] = static_cast<unsigned char>((i / 4 % width) * 3 + (seed >> 29));
    }
    return p;
}

std::vector<unsigned char> encode(const std::vector<unsigned char>& pic, int width, int height,
                                  int transparency, int threads) {
    uint64_t room = 0;
    EXPECT_TRUE(KEOMaxFramePayloadSize(width, height, &room));
    std::vector<unsigned char> out(room);
    // optimizeFor 2: DXT24 (DXT24 with alpha when transparent), never LZF.
    int n = CompressDXTFrame(pic.data(), out.data(), width, height, width * 4, transparency, 2,
                             threads);
    EXPECT_GT(n, 0);
    out.resize(static_cast<size_t>(n > 0 ? n : 0));
    return out;
}

TEST(ThreadedEncode, ConcurrentCallersOnTheSharedPoolMatchSingleThread) {
    const int width = 72, height = 64;
    constexpr int kCallers = 4, kFrames = 3;
    std::vector<std::vector<unsigned char>> pictures, expected;
    for (int i = 0; i < kCallers * kFrames; i++) {
        pictures.push_back(picture(width, height, 1000 + i));
        expected.push_back(encode(pictures.back(), width, height, i % 2, 1));
    }
    std::vector<std::vector<unsigned char>> got(pictures.size());
    std::vector<std::thread> callers;
    for (int c = 0; c < kCallers; c++)
        callers.emplace_back([&, c] {
            for (int f = 0; f < kFrames; f++) {
                const int i = c * kFrames + f;
                // Callers ask for different worker counts; the pool starts once.
                got[i] = encode(pictures[i], width, height, i % 2, 2 + c);
            }
        });
    for (auto& t : callers)
        t.join();
    for (size_t i = 0; i < got.size(); i++)
        EXPECT_EQ(got[i], expected[i]) << i;
    EXPECT_GE(g_numDXT24Threads, 2);
}

} // namespace
