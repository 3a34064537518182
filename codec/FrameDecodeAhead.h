// Two frames at once: one decoded on a standing decode worker while the
// caller decodes the other, for readers that take frames in order.
//
// One frame's decode is a chain of steps that two cores share only in part
// (PipelinedDecode.h); two frames, one per core, keep both cores busy all
// the time. A reader that knows the next frame it will want (a player, keo
// decode, a Python loop over a movie, keodec) starts it here, decodes or
// delivers the frame at hand meanwhile, and finishes the started one when it
// is wanted:
//
//     KEOFrameDecode next;
//     KEOStartFrameDecode(&next, sampleN1, lengthN1, w, h, frameN1, pitch, true);
//     ... DecodeFramePayloadInto(sampleN, ..., frameN, ...) and hand frame n out ...
//     if (KEOFinishFrameDecode(&next) != kKEODecodeOK) ... frame n + 1 failed
//
// The started decode runs alone on its worker, with the worker's own scratch
// memory; its result and pixels are those of DecodeFramePayloadInto. When no
// worker is idle (the setting allows none, or other decodes have them all)
// it is decoded before KEOStartFrameDecode returns, so a caller need not
// care where it ran. The sample and the destination must stay untouched
// until KEOFinishFrameDecode returns, which must be called exactly once for
// every start. A failed frame's destination holds nothing of use.
#pragma once

#include "codec/DecodeWorkers.h"

struct KEOFrameDecode {
    // Filled by KEOStartFrameDecode; the caller reads none of it.
    const unsigned char* sample;
    unsigned int sampleLength;
    int width, height;
    unsigned char* dest;
    long long rowPitch;
    bool bottomUp;
    KEODecodeWorker* worker; // null when decoded on the caller
    int result;
};

// Starts the decode; true when it runs on a worker, false when it was done
// here (its result waits for KEOFinishFrameDecode all the same).
bool KEOStartFrameDecode(KEOFrameDecode* decode, const unsigned char* sample,
                         unsigned int sampleLength, int width, int height, unsigned char* dest,
                         long long rowPitch, bool bottomUp);

// Waits for the decode to end and returns its result: 0, or 99 (as
// DecodeFramePayloadInto).
int KEOFinishFrameDecode(KEOFrameDecode* decode);
