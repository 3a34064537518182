// Band split of a large picture's block decode over helper threads.
#include "codec/DecodeThreads.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<int> g_decodeThreads{kKEODecodeThreadsAuto};

int processorCount() {
    static const int count = [] {
        const long online = sysconf(_SC_NPROCESSORS_ONLN);
        return online < 1 ? 1
                          : (online > kKEOMaxDecodeThreads ? kKEOMaxDecodeThreads : int(online));
    }();
    return count;
}

// One band: block rows [firstBlockRow, firstBlockRow + blockRows).
struct Band {
    KEOBlockLayout layout;
    const unsigned char* blockData;
    uint32_t width;
    uint32_t height;
    unsigned char* row0;
    ptrdiff_t pitch;
    uint32_t firstBlockRow;
    uint32_t blockRows;
};

void decodeBand(const Band& band) {
    const uint32_t firstRow = 4 * band.firstBlockRow;
    if (band.blockRows == 0 || firstRow >= band.height)
        return;
    const uint32_t rowsLeft = band.height - firstRow;
    const uint32_t rows = 4 * band.blockRows < rowsLeft ? 4 * band.blockRows : rowsLeft;
    const size_t blocksX = band.width / 4 + (band.width % 4 != 0);
    const size_t blockRowBytes = blocksX * static_cast<size_t>(KEOLayoutBlockSize(band.layout));
    KEODecodeBlocks(band.layout, band.blockData + band.firstBlockRow * blockRowBytes, band.width,
                    rows, band.row0 + static_cast<ptrdiff_t>(firstRow) * band.pitch, band.pitch);
}

void* decodeBandThread(void* band) {
    decodeBand(*static_cast<const Band*>(band));
    return nullptr;
}

} // namespace

void KEOSetDecodeThreads(int threads) {
    if (threads < 0)
        threads = kKEODecodeThreadsAuto;
    g_decodeThreads.store(threads > kKEOMaxDecodeThreads ? kKEOMaxDecodeThreads : threads);
}

int KEOGetDecodeThreads() {
    return g_decodeThreads.load();
}

int KEODecodeThreadsFor(uint32_t width, uint32_t height) {
    if (static_cast<uint64_t>(width) * height < kKEOSplitDecodeMinPixels)
        return 1;
    const int setting = g_decodeThreads.load();
    const int cores = processorCount();
    return setting == kKEODecodeThreadsAuto ? cores : (setting < cores ? setting : cores);
}

void KEODecodeBlocksOnThreads(KEOBlockLayout layout, const unsigned char* blockData, uint32_t width,
                              uint32_t height, unsigned char* row0, ptrdiff_t pitch, int threads) {
    const uint32_t blocksY = height / 4 + (height % 4 != 0);
    if (threads > kKEOMaxDecodeThreads)
        threads = kKEOMaxDecodeThreads;
    if (threads > static_cast<int>(blocksY))
        threads = static_cast<int>(blocksY);
    if (threads < 2) {
        KEODecodeBlocks(layout, blockData, width, height, row0, pitch);
        return;
    }
    // Bands as even as whole block rows allow; the first ones take the rest.
    Band bands[kKEOMaxDecodeThreads];
    const uint32_t n = static_cast<uint32_t>(threads);
    uint32_t next = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t rows = blocksY / n + (i < blocksY % n);
        bands[i] = Band{layout, blockData, width, height, row0, pitch, next, rows};
        next += rows;
    }
    pthread_t helpers[kKEOMaxDecodeThreads];
    bool started[kKEOMaxDecodeThreads] = {};
    for (uint32_t i = 1; i < n; ++i)
        started[i] = pthread_create(&helpers[i], nullptr, decodeBandThread, &bands[i]) == 0;
    decodeBand(bands[0]);
    for (uint32_t i = 1; i < n; ++i) {
        if (started[i])
            pthread_join(helpers[i], nullptr);
        else
            decodeBand(bands[i]);
    }
}
