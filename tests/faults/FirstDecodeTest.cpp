// Eight threads doing the process's first DXT24 decode at the same moment.
// The decode table is filled on first use; every thread must find it
// complete. This is the only test of its executable, so that its decodes are
// really the first ones; under ThreadSanitizer an unordered fill is a report.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include "codec/FramePayload.h"

namespace {

// A plain DXT24 payload (alpha or not) of seeded block bytes; every bit
// pattern is a valid DXT24 block.
std::vector<unsigned char> dxt24Payload(int width, int height, bool alpha, uint32_t seed) {
    uint64_t blockBytes = 0;
    EXPECT_TRUE(KEOBlockDataSize(width, height, true, alpha, &blockBytes));
    KEOFrameHeader h{};
    h.headerSize = kKEOFrameHeaderSize;
    h.formatVersion = 1;
    h.hasAlpha = alpha;
    h.payloadSize = static_cast<uint32_t>(blockBytes);
    h.isOpaque = !alpha;
    h.isDXT24 = 1;
    std::vector<unsigned char> payload(kKEOFrameHeaderSize + blockBytes);
    h.write(payload.data());
    for (size_t i = kKEOFrameHeaderSize; i < payload.size(); i++) {
        seed = seed * 1664525u + 1013904223u;
        payload[i] = static_cast<unsigned char>(seed >> 24);
    }
    return payload;
}

TEST(FirstDecode, EightThreadsDecodeDXT24AtOnce) {
    const int width = 68, height = 36;
    constexpr int kThreads = 8;
    std::vector<std::vector<unsigned char>> payloads;
    for (int t = 0; t < kThreads; t++)
        payloads.push_back(dxt24Payload(width, height, t % 2 == 1, 77 + t));
    std::vector<unsigned char*> pictures(kThreads, nullptr);
    std::vector<int> results(kThreads, -1);

    // A gate so that the first decodes overlap rather than run one by one.
    std::atomic<int> waiting{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] {
            waiting.fetch_add(1);
            while (waiting.load() < kThreads)
                std::this_thread::yield();
            results[t] = DecodeFramePayload(payloads[t].data(),
                                            static_cast<unsigned int>(payloads[t].size()), width,
                                            height, &pictures[t]);
        });
    for (auto& t : threads)
        t.join();

    // Decoded again now that the table is surely complete: the same pixels.
    for (int t = 0; t < kThreads; t++) {
        ASSERT_EQ(results[t], kKEODecodeOK) << t;
        unsigned char* again = nullptr;
        ASSERT_EQ(DecodeFramePayload(payloads[t].data(),
                                     static_cast<unsigned int>(payloads[t].size()), width, height,
                                     &again),
                  kKEODecodeOK);
        EXPECT_EQ(std::vector<unsigned char>(pictures[t], pictures[t] + width * height * 4),
                  std::vector<unsigned char>(again, again + width * height * 4))
            << t;
        std::free(again);
        std::free(pictures[t]);
    }
}

} // namespace
