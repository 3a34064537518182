// A whole frame decoded on a decode worker.
#include "codec/FrameDecodeAhead.h"

#include "codec/FramePayload.h"

namespace {

void decodeOnWorker(void* arg) {
    KEOFrameDecode* d = static_cast<KEOFrameDecode*>(arg);
    d->result = KEODecodeFramePayloadAlone(d->sample, d->sampleLength, d->width, d->height, d->dest,
                                           d->rowPitch, d->bottomUp, KEOWorkerScratch(d->worker));
}

} // namespace

bool KEOStartFrameDecode(KEOFrameDecode* decode, const unsigned char* sample,
                         unsigned int sampleLength, int width, int height, unsigned char* dest,
                         long long rowPitch, bool bottomUp) {
    decode->sample = sample;
    decode->sampleLength = sampleLength;
    decode->width = width;
    decode->height = height;
    decode->dest = dest;
    decode->rowPitch = rowPitch;
    decode->bottomUp = bottomUp;
    decode->result = kKEODecodeFailed;
    decode->worker = KEOClaimDecodeWorker();
    if (decode->worker != nullptr) {
        KEOPostDecodeJob(decode->worker, decodeOnWorker, decode, true);
        return true;
    }
    decode->result = DecodeFramePayloadInto(sample, sampleLength, width, height, dest, rowPitch,
                                            bottomUp, nullptr);
    return false;
}

int KEOFinishFrameDecode(KEOFrameDecode* decode) {
    if (decode->worker == nullptr)
        return decode->result;
    // A worker the machine has not run yet is not waited for: its job is
    // called off and the frame decoded here.
    const bool ran = KEOEndDecodeJob(decode->worker);
    decode->worker = nullptr;
    if (!ran)
        decode->result = DecodeFramePayloadInto(decode->sample, decode->sampleLength, decode->width,
                                                decode->height, decode->dest, decode->rowPitch,
                                                decode->bottomUp, nullptr);
    return decode->result;
}
