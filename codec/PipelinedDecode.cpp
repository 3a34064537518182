// The LZF pipeline: bands of the stream on the caller, rows on a worker.
#include "codec/PipelinedDecode.h"

#include <chrono>

#include "codec/DecodeThreads.h"
#include "codec/DecodeWorkers.h"

namespace {

// Block rows unpacked between two reports of progress.
constexpr uint32_t kBandRows = 2;
// How far behind the unpacking the worker stays.
constexpr uint32_t kLagRows = 2;
// The share of rows out before the worker is woken, in percent.
constexpr uint32_t kWakePercent = 45;
// At the frame's end the worker has at most a chunk of rows to finish, tens
// of microseconds; a wait this long means the machine did not run it.
constexpr auto kLateWorker = std::chrono::microseconds(1000);

struct Follower {
    KEOBlockRows* rows;
    KEODecodeWorker* worker;
};

void follow(void* arg) {
    const Follower* f = static_cast<const Follower*>(arg);
    KEODecodeTakenRows(f->rows, kLagRows, f->worker);
}

// Unpacks the stream band by band, publishing the rows that are final and
// waking the worker once enough are. True when the stream fills exactly the
// block data.
bool unpackInBands(KEOLZFStream* stream, KEOBlockRows* rows, KEODecodeWorker* worker) {
    const uint32_t wakeAt = rows->blockRows * kWakePercent / 100;
    bool woken = false;
    for (uint32_t band = kBandRows;; band += kBandRows) {
        if (band >= rows->blockRows)
            // Past the output's end, so that tokens left over are refused.
            return KEOLZFDecodeUntil(stream, stream->outEnd - stream->out + 1) &&
                   KEOLZFFinished(stream);
        if (!KEOLZFDecodeUntil(stream, band * rows->blockRowBytes))
            return false;
        // Rows wholly out; the token that ends a band may run into the next.
        const uint32_t ready = static_cast<uint32_t>(stream->produced / rows->blockRowBytes);
        rows->ready.store(ready, std::memory_order_seq_cst);
        if (woken) {
            KEOReportProgress(worker, ready);
        } else if (ready >= wakeAt) {
            KEORingWorker(worker);
            woken = true;
        }
    }
}

} // namespace

bool KEOPipelineWanted(uint32_t width, uint32_t height) {
    return static_cast<uint64_t>(width) * height >= kKEOPipelineMinPixels &&
           KEOAllowedDecodeThreads() >= 2;
}

KEOPipelineResult KEODecodeLZFPipelined(const unsigned char* stream, uint32_t streamBytes,
                                        KEOBlockLayout layout, uint32_t width, uint32_t height,
                                        unsigned char* row0, ptrdiff_t pitch, size_t blockBytes,
                                        KEOLZFPath path) {
    KEODecodeWorker* worker = KEOClaimDecodeWorker();
    if (worker == nullptr)
        return kKEOPipelineNotRun;
    unsigned char* blocks = keo::reserve(*KEOWorkerScratch(worker), blockBytes);
    if (blocks == nullptr) {
        KEOEndDecodeJob(worker);
        return kKEOPipelineNotRun;
    }
    KEOBlockRows rows;
    KEOInitBlockRows(&rows, layout, blocks, width, height, row0, pitch, 0);
    Follower follower{&rows, worker};
    KEOPostDecodeJob(worker, follow, &follower, false);

    KEOLZFStream lzf;
    KEOLZFBegin(&lzf, stream, streamBytes, blocks, static_cast<unsigned int>(blockBytes), path);
    const bool whole = unpackInBands(&lzf, &rows, worker);
    // A worker that is running takes rows until none is left (or stops); one
    // asleep is not woken for the few rows left, which the caller takes, and
    // ending the job abandons it.
    rows.ready.store(whole ? rows.blockRows : kKEORowsFailed, std::memory_order_seq_cst);
    if (whole)
        KEODecodeTakenRows(&rows, 0, nullptr);
    const auto waitFrom = std::chrono::steady_clock::now();
    KEOEndDecodeJob(worker);
    if (std::chrono::steady_clock::now() - waitFrom > kLateWorker)
        KEODecodeWorkerLate();
    else
        KEODecodeWorkerOnTime();
    return whole ? kKEOPipelineDecoded : kKEOPipelineRefused;
}
