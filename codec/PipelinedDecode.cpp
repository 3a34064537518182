// The LZF pipeline: the stream unpacked from both ends of the frame at once
// where it can be, its rows decoded by whichever thread is free.
#include "codec/PipelinedDecode.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "codec/DecodeThreads.h"
#include "codec/DecodeWorkers.h"

namespace {

// Block rows unpacked between two reports of progress.
constexpr uint32_t kBandRows = 2;
// How far behind the unpacking a follower stays.
constexpr uint32_t kLagRows = 2;
// The share of rows out before a worker that only follows is woken, in
// percent.
constexpr uint32_t kWakePercent = 45;
// Where the worker starts looking for a stream of its own, in percent of
// the input: a little past the middle, so that it is done first and helps
// with the caller's rows while the caller reaches its start.
constexpr size_t kSecondHalfPercent = 52;
// Tokens that must parse as a stream's start before the worker takes it.
constexpr int kStartTokens = 32;
// After a frame whose second half could not be used (a stream that is one
// LZF stream from end to end), the frames that do without one.
constexpr int kFramesWithoutSecondHalf = 16;
// At the frame's end the worker has at most a chunk of rows to finish, tens
// of microseconds; a wait this long means the machine did not run it.
constexpr auto kLateWorker = std::chrono::microseconds(1000);

constexpr size_t kSearching = SIZE_MAX;

enum SecondHalfState { kUnpacking, kUnpacked, kUnusable };

std::atomic<int> g_framesWithoutSecondHalf{0};
std::atomic<uint64_t> g_framesFromBothEnds{0};
std::atomic<bool> g_waitForWorker{false};

// The part of the stream the worker unpacks into a buffer of its own.
struct SecondHalf {
    unsigned char* out;
    // Its input offset once found; the stream's length when there is none.
    std::atomic<size_t> start{kSearching};
    std::atomic<int> state{kUnpacking};
    size_t produced = 0; // written before state becomes kUnpacked
    // Written before state becomes kUnusable: the stream cannot be unpacked
    // from there (no start found, or the decode from it refused).
    bool unfit = false;
    std::atomic<bool> stop{false}; // the caller will not use it
};

struct Pipeline {
    const unsigned char* stream;
    uint32_t streamBytes;
    size_t blockBytes;
    KEOLZFPath path;
    KEODecodeWorker* worker;
    KEOBlockRows rows;
    bool twoEnds; // the worker unpacks a second half
    SecondHalf second;
};

// The worker's unpacking of the stream from an offset past the middle
// where a stream of its own starts, into its buffer.
void unpackSecondHalf(Pipeline* p) {
    SecondHalf& second = p->second;
    const size_t from = p->streamBytes * kSecondHalfPercent / 100;
    const size_t start = KEOLZFFindStart(p->stream, p->streamBytes, from, kStartTokens);
    second.start.store(start, std::memory_order_release);
    KEOLZFStream s;
    KEOLZFBegin(&s, p->stream + start, static_cast<unsigned int>(p->streamBytes - start),
                second.out, static_cast<unsigned int>(p->blockBytes), p->path);
    const size_t band = 16 * p->rows.blockRowBytes;
    bool accepted = start < p->streamBytes;
    bool stopped = false;
    const size_t inLength = p->streamBytes - start;
    for (size_t target = band; accepted && s.consumed < inLength; target += band) {
        stopped = second.stop.load(std::memory_order_relaxed);
        accepted =
            !stopped && KEOLZFDecodeUntil(&s, target < p->blockBytes ? target : p->blockBytes + 1);
    }
    second.produced = s.produced;
    second.unfit = !accepted && !stopped;
    second.state.store(accepted ? kUnpacked : kUnusable, std::memory_order_release);
}

void workerJob(void* arg) {
    Pipeline* p = static_cast<Pipeline*>(arg);
    if (!p->twoEnds) {
        KEODecodeTakenRows(&p->rows, kLagRows, p->worker);
        return;
    }
    unpackSecondHalf(p);
    // A half that may join waits, asleep, for the caller to reach it, and
    // then decodes its own rows from the bottom up. Following the caller's
    // rows meanwhile would cost the caller a wake-up call every few rows,
    // which slowed its unpacking, the frame's longest part, from 0.8 to
    // 1.5 ms on a 1080p photograph.
    const bool mayJoin = p->second.state.load(std::memory_order_relaxed) == kUnpacked &&
                         !p->second.stop.load(std::memory_order_relaxed);
    if (mayJoin && !KEOWorkerWaitFor(p->worker, p->rows.ready, p->rows.blockRows))
        return; // abandoned: `p` may be gone
    KEODecodeTakenRows(&p->rows, kLagRows, p->worker, kKEOTakeOwnSecondPart);
}

// The caller's side of the unpacking.
struct FirstHalf {
    bool twoEnds;
    bool met = false;    // the caller's tokens met the second half's start
    size_t metAt = 0;    // the bytes out then
    uint32_t wakeAt = 0; // rows out when a following worker is woken
    bool woken = false;
    bool unfit = false; // the stream turned out not to be in pieces
};

// Where the caller's decode must stop to meet the second half, if anywhere.
// The caller never waits for the worker: a second half whose start is not
// known by the time the caller reaches the search offset, or whose start the
// caller's tokens have passed, is given up and the caller goes on alone.
size_t inputStop(Pipeline* p, FirstHalf* f, const KEOLZFStream& s) {
    if (!f->twoEnds || f->met)
        return SIZE_MAX;
    const size_t from = p->streamBytes * kSecondHalfPercent / 100;
    size_t start = p->second.start.load(std::memory_order_acquire);
    if (start == kSearching && s.consumed < from)
        return from;
    while (start == kSearching && g_waitForWorker.load(std::memory_order_relaxed)) {
        std::this_thread::yield();
        start = p->second.start.load(std::memory_order_acquire);
    }
    if (start == kSearching || start >= p->streamBytes || start < s.consumed) {
        f->twoEnds = false;
        p->second.stop.store(true, std::memory_order_relaxed);
        return SIZE_MAX;
    }
    return start;
}

// Once the caller has met the second half's start: when the worker has
// unpacked it to exactly the rest of the block data, the rows after what
// the caller has made come from the worker's buffer, and every row is
// ready. False while the worker is still at it, or when its half cannot be
// used (the caller then goes on alone).
bool joinSecondHalf(Pipeline* p, FirstHalf* f, const KEOLZFStream& s) {
    int state = p->second.state.load(std::memory_order_acquire);
    while (state == kUnpacking && g_waitForWorker.load(std::memory_order_relaxed)) {
        std::this_thread::yield();
        state = p->second.state.load(std::memory_order_acquire);
    }
    if (state == kUnpacking)
        return false;
    if (state == kUnusable || p->second.produced != p->blockBytes - f->metAt) {
        f->unfit = state == kUnpacked || p->second.unfit;
        f->twoEnds = false;
        return false;
    }
    // The caller's bytes up to the end of the row it is in, then the
    // worker's: the row that holds both is completed from the worker's.
    KEOBlockRows& rows = p->rows;
    const size_t made = s.produced;
    const uint32_t split =
        static_cast<uint32_t>((made + rows.blockRowBytes - 1) / rows.blockRowBytes);
    const size_t splitAt = split * rows.blockRowBytes;
    unsigned char* blocks = s.out;
    if (splitAt > made)
        std::memcpy(blocks + made, p->second.out + (made - f->metAt), splitAt - made);
    rows.secondBlocks = p->second.out + (splitAt - f->metAt);
    rows.split.store(split, std::memory_order_relaxed);
    // Every row is ready now: the worker, asleep until then, is woken for
    // its own.
    rows.ready.store(rows.blockRows, std::memory_order_seq_cst);
    KEOReportProgress(p->worker, rows.blockRows);
    return true;
}

// Once met, while the worker still unpacks its half, the caller decodes the
// rows it has made rather than unpack further what the worker is unpacking;
// true when the worker's half then joins. With no row left to decode the
// caller goes on unpacking: a worker this slow may not be being run.
bool waitOnOwnRows(Pipeline* p, FirstHalf* f, const KEOLZFStream& s) {
    while (p->second.state.load(std::memory_order_acquire) == kUnpacking)
        if (KEODecodeTakenChunk(&p->rows, 0) != kKEORowsDecoded)
            return false;
    return joinSecondHalf(p, f, s);
}

// Publishes the rows the caller has made, waking a worker that waits.
void publish(Pipeline* p, FirstHalf* f, size_t produced) {
    const uint32_t ready = static_cast<uint32_t>(produced / p->rows.blockRowBytes);
    p->rows.ready.store(ready, std::memory_order_seq_cst);
    if (f->woken) {
        KEOReportProgress(p->worker, ready);
    } else if (ready >= f->wakeAt) {
        KEORingWorker(p->worker);
        f->woken = true;
    }
}

// Unpacks the stream band by band from its start, meeting the worker's
// second half where it can. True when the block data is whole.
bool unpack(Pipeline* p, KEOLZFStream* s, FirstHalf& f) {
    f.twoEnds = p->twoEnds;
    f.woken = p->twoEnds; // woken at once to unpack
    f.wakeAt = p->rows.blockRows * kWakePercent / 100;
    const size_t band = kBandRows * p->rows.blockRowBytes;
    size_t target = band;
    for (;;) {
        const bool last = target >= p->blockBytes;
        const size_t stopAt = inputStop(p, &f, *s);
        // Past the output's end at last, so that tokens left over are refused.
        if (!KEOLZFDecodeUntilInput(s, last ? p->blockBytes + 1 : target, stopAt))
            return false;
        if (f.twoEnds && !f.met && s->consumed == p->second.start.load(std::memory_order_relaxed)) {
            f.met = true;
            f.metAt = s->produced;
        } else if (f.twoEnds && !f.met && stopAt != SIZE_MAX && s->consumed > stopAt &&
                   stopAt == p->second.start.load(std::memory_order_relaxed)) {
            f.twoEnds = false; // the start falls inside one of our tokens
            p->second.stop.store(true, std::memory_order_relaxed);
        }
        if (f.met && f.twoEnds && joinSecondHalf(p, &f, *s))
            return true;
        publish(p, &f, s->produced);
        if (f.met && f.twoEnds && waitOnOwnRows(p, &f, *s))
            return true;
        if (s->consumed == static_cast<size_t>(s->inEnd - s->in) || (last && stopAt == SIZE_MAX))
            return KEOLZFFinished(s);
        if (s->produced >= target)
            target += band;
    }
}

} // namespace

void KEOPipelineWaitsForWorkerForTesting(bool wait) {
    g_waitForWorker.store(wait);
    g_framesWithoutSecondHalf.store(0);
}

uint64_t KEOFramesUnpackedFromBothEnds() {
    return g_framesFromBothEnds.load(std::memory_order_relaxed);
}

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
    Pipeline p{stream, streamBytes, blockBytes, path, worker, {}, false, {}};
    unsigned char* blocks = keo::reserve(*KEOWorkerScratch(worker), blockBytes);
    p.second.out = keo::reserve(*KEOWorkerScratch(worker), blockBytes);
    if (blocks == nullptr || p.second.out == nullptr) {
        KEOEndDecodeJob(worker);
        return kKEOPipelineNotRun;
    }
    p.twoEnds = g_framesWithoutSecondHalf.load(std::memory_order_relaxed) <= 0 ||
                g_waitForWorker.load(std::memory_order_relaxed);
    if (!p.twoEnds)
        g_framesWithoutSecondHalf.fetch_sub(1, std::memory_order_relaxed);
    KEOInitBlockRows(&p.rows, layout, blocks, width, height, row0, pitch, 0);
    KEOPostDecodeJob(worker, workerJob, &p, p.twoEnds);

    KEOLZFStream lzf;
    KEOLZFBegin(&lzf, stream, streamBytes, blocks, static_cast<unsigned int>(blockBytes), path);
    FirstHalf f;
    const bool whole = unpack(&p, &lzf, f);
    // Only a stream that is not in pieces rests the search: a worker run too
    // late says nothing of the next frame.
    if (p.rows.split.load(std::memory_order_relaxed) < p.rows.blockRows)
        g_framesFromBothEnds.fetch_add(1, std::memory_order_relaxed);
    else if (f.unfit)
        g_framesWithoutSecondHalf.store(kFramesWithoutSecondHalf, std::memory_order_relaxed);
    p.second.stop.store(true, std::memory_order_relaxed);
    // A worker that is running takes rows until none is left (or stops); one
    // asleep is not woken for the rows left, which the caller takes, and
    // ending the job abandons it.
    p.rows.ready.store(whole ? p.rows.blockRows : kKEORowsFailed, std::memory_order_seq_cst);
    if (whole)
        KEODecodeTakenRows(&p.rows, 0, nullptr);
    const auto waitFrom = std::chrono::steady_clock::now();
    KEOEndDecodeJob(worker);
    if (std::chrono::steady_clock::now() - waitFrom > kLateWorker)
        KEODecodeWorkerLate();
    else
        KEODecodeWorkerOnTime();
    return whole ? kKEOPipelineDecoded : kKEOPipelineRefused;
}
