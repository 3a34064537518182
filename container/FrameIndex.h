// QuicktimeFrameIndex: where every frame of the first video track lies in
// the file, worked out once when a movie is opened for reading.
//
// The sample tables give a sample's place only through a walk of the
// sample-to-chunk runs and of the sizes before it in its chunk. A frame
// request needs it every time, so the reader turns the tables into one entry
// per frame when the movie opens, each checked against the file's length
// then: a request is one array look-up, and no size that the file cannot
// back reaches an allocation.
//
// Memory: 16 bytes a frame. Every real movie spends at least four bytes of
// its file on each frame (the frame's sample size entry, or, with one size
// for every sample, the frame's own bytes), so a track that claims more
// frames than the file has four-byte words is refused, and the index never
// takes more than four times the file's size, whatever its tables claim.
#pragma once

#include <cstdint>

struct QuicktimeFile;
struct QuicktimeTrak;

struct QuicktimeFrameEntry {
    int64_t offset; // first byte in the file; -1 when the frame cannot be located
    uint32_t size;  // bytes of the sample
    uint32_t chunk; // 1-based chunk that holds it
};

struct QuicktimeFrameIndex {
    int32_t built; // 1 once built; a movie open for writing has none
    int64_t totalFrames;
    QuicktimeFrameEntry* table;

    // One entry per sample of `track`, located as the track's lookups
    // locate them (TrackLookups.cpp) and checked against the file's length:
    // a frame without a chunk, whose offset does not fit, whose size is
    // beyond 2^31 - 1 or whose bytes do not all lie inside the file cannot
    // be located. Non-zero, with nothing kept, when the track is refused (see
    // above) or the index cannot be allocated.
    int build(const QuicktimeFile* file, const QuicktimeTrak& track);
    void deleteMe();
    // Offset, size and chunk of `frame`; false when there is no such frame
    // or it cannot be located.
    bool locate(int64_t frame, int64_t* offset, int64_t* size, int64_t* chunk) const;
};
