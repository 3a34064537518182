// The track maps: one per video and one per audio track, in file order, with
// the position of the next read.
#pragma once

#include <cstdint>

struct QuicktimeTrak;

struct QuicktimeVideoMap {
    QuicktimeTrak* track;    // owned by the movie tree
    int64_t currentPosition; // the frame last positioned to
    int64_t currentChunk;    // that frame's chunk

    void init(QuicktimeTrak* t) {
        track = t;
        currentPosition = 0;
        currentChunk = 1;
    }
};

struct QuicktimeAudioMap {
    QuicktimeTrak* track;    // owned by the movie tree
    int32_t channels;        // of the first sample description
    int64_t currentPosition; // sample frame at which the next read starts
    int64_t currentChunk;    // the chunk holding it

    void init(QuicktimeTrak* t);
};
