// Block rows of one picture counted off by the caller and the decode workers.
#include "codec/DecodeThreads.h"

#include <chrono>

namespace {

// Rows a thread takes at a time: few enough that the threads end together,
// enough that the shared counter is touched rarely.
constexpr uint32_t kChunkRows = 2;
// A follower that has caught up with its producer sleeps until this many
// more rows are ready than it needs: fewer wake-up calls per frame.
constexpr uint32_t kWakeBatchRows = 8;

// Rows [first, first + count) of the picture, all from one part of the
// block data.
void decodeRowsFrom(const KEOBlockRows& rows, const unsigned char* blocks, uint32_t first,
                    uint32_t count) {
    const uint32_t firstPixelRow = 4 * first;
    const uint32_t left = rows.height - firstPixelRow;
    const uint32_t pixelRows = 4 * count < left ? 4 * count : left;
    KEODecodeBlocks(rows.layout, blocks, rows.width, pixelRows,
                    rows.row0 + static_cast<ptrdiff_t>(firstPixelRow) * rows.pitch, rows.pitch);
}

// Rows [first, first + count), from whichever part holds each.
void decodeRows(const KEOBlockRows& rows, uint32_t first, uint32_t count) {
    const uint32_t split = rows.split.load(std::memory_order_relaxed);
    const uint32_t end = first + count;
    if (first < split) {
        const uint32_t n = end < split ? count : split - first;
        decodeRowsFrom(rows, rows.blocks + first * rows.blockRowBytes, first, n);
        first += n;
    }
    if (first < end)
        decodeRowsFrom(rows, rows.secondBlocks + (first - split) * rows.blockRowBytes, first,
                       end - first);
}

// The last row that may be taken now: `lag` behind `ready` while rows are
// still coming.
uint32_t takeableEnd(const KEOBlockRows& rows, uint32_t ready, uint32_t lag) {
    if (ready >= rows.blockRows)
        return rows.blockRows;
    return ready > lag ? ready - lag : 0;
}

uint32_t topOf(uint64_t taken) {
    return static_cast<uint32_t>(taken);
}

uint32_t bottomOf(uint64_t taken) {
    return static_cast<uint32_t>(taken >> 32);
}

uint64_t takenWord(uint32_t top, uint32_t bottom) {
    return static_cast<uint64_t>(bottom) << 32 | top;
}

struct BandJob {
    KEOBlockRows* rows;
    KEODecodeWorker* worker;
};

void runBandJob(void* arg) {
    const BandJob* job = static_cast<const BandJob*>(arg);
    KEODecodeTakenRows(job->rows, 0, job->worker);
}

} // namespace

int KEODecodeThreadsFor(uint32_t width, uint32_t height) {
    if (static_cast<uint64_t>(width) * height < kKEOSplitDecodeMinPixels)
        return 1;
    return KEOAllowedDecodeThreads();
}

void KEOInitBlockRows(KEOBlockRows* rows, KEOBlockLayout layout, const unsigned char* blocks,
                      uint32_t width, uint32_t height, unsigned char* row0, ptrdiff_t pitch,
                      uint32_t ready) {
    rows->layout = layout;
    rows->blocks = blocks;
    rows->secondBlocks = nullptr;
    rows->width = width;
    rows->height = height;
    rows->row0 = row0;
    rows->pitch = pitch;
    rows->blockRows = height / 4 + (height % 4 != 0);
    rows->blockRowBytes =
        static_cast<size_t>(width / 4 + (width % 4 != 0)) * KEOLayoutBlockSize(layout);
    rows->split.store(rows->blockRows, std::memory_order_relaxed);
    rows->taken.store(takenWord(0, rows->blockRows), std::memory_order_relaxed);
    rows->ready.store(ready, std::memory_order_relaxed);
}

KEORowsTaken KEODecodeTakenChunk(KEOBlockRows* rows, uint32_t lag, KEORowsEnd end) {
    for (;;) {
        const uint32_t ready = rows->ready.load(std::memory_order_acquire);
        if (ready == kKEORowsFailed)
            return kKEORowsOver;
        uint64_t taken = rows->taken.load(std::memory_order_relaxed);
        const uint32_t top = topOf(taken), bottom = bottomOf(taken);
        if (top >= bottom)
            return kKEORowsOver;
        // The split is read after `ready`, as decodeRows reads it.
        if (end == kKEOTakeOwnSecondPart && ready >= rows->blockRows &&
            rows->split.load(std::memory_order_relaxed) < rows->blockRows) {
            const uint32_t count = bottom - top < kChunkRows ? bottom - top : kChunkRows;
            if (rows->taken.compare_exchange_weak(taken, takenWord(top, bottom - count),
                                                  std::memory_order_relaxed)) {
                decodeRows(*rows, bottom - count, count);
                return kKEORowsDecoded;
            }
            continue;
        }
        const uint32_t takeable = takeableEnd(*rows, ready, lag);
        const uint32_t last = takeable < bottom ? takeable : bottom;
        if (top >= last)
            return kKEORowsNotYet;
        const uint32_t count = last - top < kChunkRows ? last - top : kChunkRows;
        if (rows->taken.compare_exchange_weak(taken, takenWord(top + count, bottom),
                                              std::memory_order_relaxed)) {
            decodeRows(*rows, top, count);
            return kKEORowsDecoded;
        }
    }
}

void KEODecodeTakenRows(KEOBlockRows* rows, uint32_t lag, KEODecodeWorker* worker, KEORowsEnd end) {
    for (;;) {
        const KEORowsTaken taken = KEODecodeTakenChunk(rows, lag, end);
        if (taken == kKEORowsOver || (taken == kKEORowsNotYet && worker == nullptr))
            return;
        if (taken == kKEORowsDecoded)
            continue;
        // Every row once all are there, so the wait ends with the frame.
        const uint32_t want =
            topOf(rows->taken.load(std::memory_order_relaxed)) + lag + kWakeBatchRows;
        if (!KEOWorkerWaitFor(worker, rows->ready, want < rows->blockRows ? want : rows->blockRows))
            return; // abandoned: `rows` may be gone
    }
}

void KEODecodeBlocksOnThreads(KEOBlockLayout layout, const unsigned char* blockData, uint32_t width,
                              uint32_t height, unsigned char* row0, ptrdiff_t pitch, int threads) {
    if (threads > kKEOMaxDecodeThreads)
        threads = kKEOMaxDecodeThreads;
    const uint32_t blocksY = height / 4 + (height % 4 != 0);
    if (threads < 2 || blocksY < 2 * kChunkRows) {
        KEODecodeBlocks(layout, blockData, width, height, row0, pitch);
        return;
    }
    KEOBlockRows rows;
    KEOInitBlockRows(&rows, layout, blockData, width, height, row0, pitch, blocksY);
    BandJob jobs[kKEOMaxDecodeThreads - 1];
    int helpers = 0;
    while (helpers < threads - 1) {
        KEODecodeWorker* worker = KEOClaimDecodeWorker();
        if (worker == nullptr)
            break;
        jobs[helpers] = BandJob{&rows, worker};
        KEOPostDecodeJob(worker, runBandJob, &jobs[helpers], true);
        ++helpers;
    }
    KEODecodeTakenRows(&rows, 0, nullptr);
    // Every helper has at most a chunk of rows left: a long wait means the
    // machine did not run it.
    const auto waitFrom = std::chrono::steady_clock::now();
    for (int i = 0; i < helpers; ++i)
        KEOEndDecodeJob(jobs[i].worker);
    if (std::chrono::steady_clock::now() - waitFrom > std::chrono::milliseconds(1))
        KEODecodeWorkerLate();
    else if (helpers > 0)
        KEODecodeWorkerOnTime();
}
