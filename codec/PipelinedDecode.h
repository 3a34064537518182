// LZF frames of 1080p and more, unpacked and decoded on two cores at once.
//
// On one thread a 1080p frame is its LZF stream unpacked (about 70 % of the
// time for DXT5 blocks) and then its blocks decoded. Here the calling thread
// unpacks the stream in bands of a few block rows and publishes how many
// rows are final after each band, while a standing decode worker turns
// finished rows into pixels. The worker
//   - follows at least two block rows behind the unpacking: right behind it,
//     both cores work on the same cache lines and each slows the other;
//   - is woken only when about 45 % of the rows are out: a worker that waits
//     from the frame's start costs almost a second core per frame, and one
//     woken this late still finishes the blocks about when the unpacking
//     ends, for a few percent more CPU than one thread;
//   - sleeps again when it catches up, until several rows are ready.
// When the stream ends the caller decodes, alongside the worker, the rows
// that are left. A worker that was not woken in time (the machine is busy)
// is called off and the caller decodes every row itself. A worker that was
// woken but then not run (a machine with more work than cores) keeps the
// caller waiting at the end for the rows it holds; after such a frame the
// next frames decode on one thread for a while (KEODecodeWorkerLate).
//
// The LZF output goes into the worker's scratch buffers, used in turn (see
// KEOWorkerScratch). A wake-up call costs 5 to 40 microseconds, now and then
// milliseconds; the unpacking goes on meanwhile, so the pipeline absorbs it.
//
// Failures: the stream is checked as it is unpacked, so a stream that turns
// out bad part-way through (refused, or ending short of the frame) leaves the
// rows decoded before that in the picture. The frame is then reported as
// failed like any other, and its picture must not be used, cached or shown.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/BlockLayout.h"
#include "codec/LZFDecode.h"

// Frames of at least this many pixels are pipelined.
constexpr uint64_t kKEOPipelineMinPixels = uint64_t(1920) * 1080;

// Whether a width x height LZF frame would be pipelined under the current
// thread setting (KEOSetDecodeThreads), if a worker is idle.
bool KEOPipelineWanted(uint32_t width, uint32_t height);

enum KEOPipelineResult {
    kKEOPipelineDecoded, // every pixel written
    kKEOPipelineRefused, // the stream is bad; some rows may be written
    kKEOPipelineNotRun,  // no idle worker or no memory: nothing written
};

// Unpacks `stream` (blockBytes of `layout` blocks when whole) with `path`
// and decodes the width x height picture into row0, rows `pitch` bytes
// apart (negative for bottom-up frames).
KEOPipelineResult KEODecodeLZFPipelined(const unsigned char* stream, uint32_t streamBytes,
                                        KEOBlockLayout layout, uint32_t width, uint32_t height,
                                        unsigned char* row0, ptrdiff_t pitch, size_t blockBytes,
                                        KEOLZFPath path);
