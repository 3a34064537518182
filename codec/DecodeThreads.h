// Block decoding of one large picture on several threads.
//
// A 3840x2160 frame or larger is 32 MiB of pixels or more, and its block
// decode is several milliseconds that other cores can share: the picture is
// cut into bands of whole block rows, the calling thread decodes the first
// and a helper thread each of the others, and the call returns when all are
// written. Every band is decoded by KEODecodeBlocks exactly as the whole
// picture would be, so the bytes are those of a single-thread decode.
// Smaller pictures always stay on the calling thread: starting a thread
// costs more than it saves there.
//
// How many threads may be used is a process-wide setting, so that a host or
// tool that runs decodes side by side (and has no cores to spare) can turn
// the split off without touching every call. It is read once per picture.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/DecodeBlocks.h"

enum {
    kKEOMaxDecodeThreads = 8,
    kKEODecodeThreadsAuto = 0, // as many as the processor has cores, at most 8
};

// Pictures of at least this many pixels may be split.
constexpr uint64_t kKEOSplitDecodeMinPixels = uint64_t(3840) * 2160;

// 0 (the default): automatic; 1: never split; n: at most n threads (at most 8).
// Negative values mean automatic.
void KEOSetDecodeThreads(int threads);
int KEOGetDecodeThreads();

// The number of threads a width x height picture is decoded on under the
// current setting: 1 below kKEOSplitDecodeMinPixels.
int KEODecodeThreadsFor(uint32_t width, uint32_t height);

// KEODecodeBlocks on up to `threads` threads. A helper thread that cannot
// be started leaves its band to the calling thread.
void KEODecodeBlocksOnThreads(KEOBlockLayout layout, const unsigned char* blockData, uint32_t width,
                              uint32_t height, unsigned char* row0, ptrdiff_t pitch, int threads);
