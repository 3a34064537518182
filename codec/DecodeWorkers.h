// Standing threads for frame decoding, shared by every decode of the process.
//
// A decode that wants help claims an idle worker, posts one job to it, and
// ends the job, which gives the worker back: the band split of large pictures
// (DecodeThreads.h), the LZF-then-blocks pipeline of 1080p and larger frames
// (PipelinedDecode.h), and whole frames decoded beside the caller's own
// (FrameDecodeAhead.h). The threads are started on the first claim and live
// until the process ends (or the module is unloaded), so no frame pays for
// starting one. A worker that is not running a job sleeps; nothing spins.
//
// A claim never waits: when every worker is busy (another decode of the
// process has them), or the setting allows none, or no thread could be
// started, the caller is told so and decodes alone. So decodes on several
// threads at once never queue behind each other.
//
// Waking a sleeping thread costs 5 to 40 microseconds and now and then a
// millisecond, so a job may be posted without waking its worker, and woken
// later when there is enough for it to do (KEORingWorker); a job that waits
// for a producer inside it sleeps with KEOWorkerWaitFor and is woken by
// KEOReportProgress only when the progress it waits for has come.
//
// How many threads may be used is a process-wide setting, so that a host or
// tool that runs decodes side by side (and has no cores to spare) can turn
// the help off without touching every call.
//
// A process forked from one that had started workers starts its own on its
// first claim; the parent's are left alone.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/ByteBuffer.h"

enum {
    kKEOMaxDecodeThreads = 8,  // the caller and at most 7 workers
    kKEODecodeThreadsAuto = 0, // as many as the processor has cores, at most 8
};

// 0 (the default): automatic; 1: the caller decodes alone; n: the caller and
// at most n - 1 workers (n at most 8). Negative values mean automatic.
void KEOSetDecodeThreads(int threads);
int KEOGetDecodeThreads();

// The threads the setting allows on this processor, the caller included: 1
// to 8.
int KEOAllowedDecodeThreads();

struct KEODecodeWorker;

// An idle worker for this caller alone, or null when there is none (or the
// workers are resting, below, or every core has a frame of its own).
KEODecodeWorker* KEOClaimDecodeWorker();

// Brackets the decode of one frame on the thread that decodes it (a caller,
// or a worker given a whole frame). While as many frames are being decoded
// as the setting allows threads, every core already has a frame, and claims
// are refused: readers that take frames side by side (two importer records
// of one movie) then decode one frame per core, which is faster than each
// spreading its frame over cores the other is using.
void KEOFrameDecodeBegins();
void KEOFrameDecodeEnds();

// For a caller whose job kept it waiting far longer than the job's work
// (KEOEndDecodeJob found the worker running but the machine not running it):
// the next claims are refused, a few at first and twice as many each time
// this happens again without a job in between that ended on time
// (KEODecodeWorkerOnTime). On a machine with more work than cores a caller
// then decodes alone, which is faster than waiting for a thread that is not
// being run; the pixels are the same either way. Only under the automatic
// setting: a thread count set explicitly is used as set.
void KEODecodeWorkerLate();
void KEODecodeWorkerOnTime();

// Posts run(arg) to a claimed worker. With wakeNow false the worker is not
// woken: the job starts on KEORingWorker (or earlier, if the worker happens
// to wake); the job must then cope with starting at any moment.
void KEOPostDecodeJob(KEODecodeWorker* worker, void (*run)(void* arg), void* arg, bool wakeNow);

// Wakes the worker if it sleeps (waiting for a job, or in KEOWorkerWaitFor).
void KEORingWorker(KEODecodeWorker* worker);

// Ends the claim and its job, if one was posted; a job waiting for progress
// must have been given its last (KEOReportProgress) before. A job that has not started
// is called off and never runs; one asleep in KEOWorkerWaitFor is abandoned
// there and wakes to nothing (so a worker the machine is slow to wake costs
// the caller nothing; it is claimable again at once, and takes a new job
// once it has unwound the old); any other is waited for. When this returns
// the worker touches nothing of the caller's again. True when the job ran to its end; false when it
// was called off (never ran) or abandoned.
bool KEOEndDecodeJob(KEODecodeWorker* worker);

// For a running job: sleeps until progress >= want. False when the caller
// abandoned the job meanwhile (KEOEndDecodeJob): the job must then return at
// once without touching anything of the caller's, `progress` included.
bool KEOWorkerWaitFor(KEODecodeWorker* worker, const std::atomic<uint32_t>& progress,
                      uint32_t want);

// For the producer a running job follows: after storing `progress` (with
// memory_order_seq_cst, which the check against a sleeping worker needs),
// wakes the worker if it sleeps waiting for no more than that.
void KEOReportProgress(KEODecodeWorker* worker, uint32_t progress);

// Working memory for the claimant's job, kept from one job to the next: four
// buffers handed out in turn (a pipelined frame takes two), so that a frame's
// LZF output does not go where the previous frame's was just read on another
// core (on processors whose cores sit on different cache complexes, reusing
// one buffer made the pipeline much slower). Grow it with keo::reserve; the
// worker frees it.
keo::ByteBuffer* KEOWorkerScratch(KEODecodeWorker* worker);
