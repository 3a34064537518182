// LZF frames of 1080p and more, unpacked and decoded on two cores at once.
//
// On one thread a 1080p frame is its LZF stream unpacked (about 70 % of the
// time for DXT5 blocks) and then its blocks decoded. Here the calling thread
// unpacks the stream in bands of a few block rows and publishes how many
// block rows are final after each band, and a standing decode worker
// (DecodeWorkers.h) helps in one of two ways.
//
// From both ends. The frame encoder compresses a frame in bands, each an LZF
// stream of its own (BandedEncode.h), so the stream can also be unpacked from
// the start of a band past its middle. The worker finds such a start
// (KEOLZFFindStart, from 52 % of the input on) and unpacks from there to the
// end into a buffer of its own. The caller unpacks from the beginning; when
// its tokens meet the worker's start (a token of its own starts there) and
// the worker's half came out as exactly the rest of the block data, the rows
// after the caller's come from the worker's buffer, and both threads decode
// the rows that are left, the caller from the top and the worker from the
// bottom, each mostly the blocks it unpacked. A caller that meets the start
// first decodes its own rows until the worker's half is there; a worker
// done first sleeps until the caller meets it (one wake-up call, not one
// every few rows as following the caller would cost). The frame then takes
// about 60 % of its one-thread time. A guess that does not hold (a
// stream compressed in one piece, whose references reach back across any
// start, is refused by the worker's decode; a start inside one of the
// caller's tokens; a worker not run in time) costs only the worker's work:
// the caller goes on alone as below, and after a stream that could not be
// unpacked from both ends the next 16 frames are not tried.
//
// Following. Otherwise the worker decodes the caller's finished rows
//   - at least two block rows behind the unpacking: right behind it, both
//     cores work on the same cache lines and each slows the other;
//   - woken only when about 45 % of the rows are out: a worker that waits
//     from the frame's start costs almost a second core per frame, and one
//     woken this late still finishes the blocks about when the unpacking
//     ends, for a few percent more CPU than one thread;
//   - sleeping again when it catches up, until several rows are ready.
//
// When the stream ends the caller decodes, alongside the worker, the rows
// that are left. The caller never waits for the worker while unpacking. A
// worker that was not run in time is called off and the caller decodes
// every row itself; one that was run but then held up (a machine with more
// work than cores) keeps the caller waiting at the end for the rows it
// holds, and after such a frame the next frames decode on one thread for a
// while (KEODecodeWorkerLate).
//
// The block data goes into the worker's scratch buffers, used in turn (see
// KEOWorkerScratch). A wake-up call costs 5 to 40 microseconds, now and then
// milliseconds; the unpacking goes on meanwhile, so the pipeline absorbs it.
// The pixels are those of a one-thread decode on every path.
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

// Frames unpacked from both ends so far in the process (for tests and
// benchmarks, which say which path their frames took).
uint64_t KEOFramesUnpackedFromBothEnds();

// Test seam: with true the caller waits for the worker's half instead of
// going on alone when it is not there in time, so that a slow test machine
// still takes the path from both ends; it also ends the rest after a stream
// that could not be. Never set outside tests.
void KEOPipelineWaitsForWorkerForTesting(bool wait);

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
