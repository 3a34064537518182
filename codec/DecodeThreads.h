// Block decoding of one picture shared between the calling thread and
// standing decode workers (DecodeWorkers.h).
//
// The picture's block rows are taken in chunks of a few rows by whoever
// comes next: the caller and the workers count them off one shared counter,
// so a thread that the machine holds up does less and nobody waits for a
// fixed share. Every chunk is decoded by KEODecodeBlocks exactly as the
// whole picture would be, so the bytes are those of a single-thread decode.
//
// The rows may also be decoded while a producer is still making them (the
// LZF pipeline, PipelinedDecode.h): it publishes how many block rows are
// final, and a follower takes only rows some way behind that.
//
// A plain picture of 3840x2160 or more is split this way: its block decode
// is several milliseconds that other cores can share. Smaller ones stay on
// the calling thread, where waking a worker costs more than it saves.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "codec/DecodeBlocks.h"
#include "codec/DecodeWorkers.h"

// Pictures of at least this many pixels may be split.
constexpr uint64_t kKEOSplitDecodeMinPixels = uint64_t(3840) * 2160;

// The number of threads a width x height picture is decoded on under the
// current setting (KEOSetDecodeThreads): 1 below kKEOSplitDecodeMinPixels.
int KEODecodeThreadsFor(uint32_t width, uint32_t height);

// KEODecodeBlocks on the calling thread and up to threads - 1 idle workers
// (fewer when fewer are idle, none for threads below 2).
void KEODecodeBlocksOnThreads(KEOBlockLayout layout, const unsigned char* blockData, uint32_t width,
                              uint32_t height, unsigned char* row0, ptrdiff_t pitch, int threads);

// Block rows counted off by several threads.
struct KEOBlockRows {
    KEOBlockLayout layout;
    // The block data: rows below `split` at blocks, one after another, and
    // the rows from `split` on at secondBlocks, when the data was unpacked in
    // two parts (PipelinedDecode.h). split starts at blockRows; it may be
    // lowered once, before `ready` says that the rows it moves are final.
    const unsigned char* blocks;
    const unsigned char* secondBlocks;
    std::atomic<uint32_t> split;
    uint32_t width, height;
    unsigned char* row0;
    ptrdiff_t pitch;
    uint32_t blockRows;
    size_t blockRowBytes;
    // Rows taken so far, from the top and from the bottom: the low 32 bits
    // are the first row nobody has taken from the top, the high 32 bits the
    // first row taken from the bottom (blockRows while none is). One word,
    // so that a take from either end sees the other's.
    std::atomic<uint64_t> taken;
    // Block rows whose blocks are final: blockRows when all are, and
    // kKEORowsFailed when the producer gave up (no more rows will come).
    std::atomic<uint32_t> ready;
};

constexpr uint32_t kKEORowsFailed = UINT32_MAX;

// Fills in the picture and the counters, one part of block data; `ready`
// as given.
void KEOInitBlockRows(KEOBlockRows* rows, KEOBlockLayout layout, const unsigned char* blocks,
                      uint32_t width, uint32_t height, unsigned char* row0, ptrdiff_t pitch,
                      uint32_t ready);

// Which end of the picture a thread takes rows from. Rows are taken from
// the top, where a producer makes them; a worker whose own block data is
// the second part (split, PipelinedDecode.h) takes them from the bottom once
// every row is ready, so that each thread decodes blocks in its own cache
// and writes the rows it wrote in the frame before.
enum KEORowsEnd { kKEOTakeFromTop, kKEOTakeOwnSecondPart };

// Takes and decodes one chunk of rows that lies at least `lag` rows behind
// `ready` (any row once all are ready), if there is one.
enum KEORowsTaken { kKEORowsDecoded, kKEORowsNotYet, kKEORowsOver };
KEORowsTaken KEODecodeTakenChunk(KEOBlockRows* rows, uint32_t lag,
                                 KEORowsEnd end = kKEOTakeFromTop);

// Takes and decodes chunks of rows that lie at least `lag` rows behind
// `ready` (any row once all are ready) until every row is taken, or the
// producer failed. With a worker, waits (asleep) when it has caught up;
// without, returns as soon as nothing can be taken.
void KEODecodeTakenRows(KEOBlockRows* rows, uint32_t lag, KEODecodeWorker* worker,
                        KEORowsEnd end = kKEOTakeFromTop);
