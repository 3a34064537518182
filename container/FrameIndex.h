// QuicktimeFrameIndex: where every frame of the first video track lies in
// the file, worked out once when a movie is opened for reading.
//
// The sample tables give a sample's place only through a walk of the
// sample-to-chunk runs and of the sizes before it in its chunk. A frame
// request needs it every time, so the reader turns the tables into an index
// when the movie opens, each place checked against the file's length then,
// so that no size the file cannot back reaches an allocation.
//
// Memory follows the bytes the file gives to its tables, never a count they
// claim. A track with a size per sample gets one entry a frame (16 bytes for
// the 4 of the frame's size entry), and a request is one array look-up. A
// track whose samples share one size has no per-sample bytes at all: its
// count is a claim that costs the file nothing, so it gets one entry a chunk
// (24 bytes for the 4 or 8 of the chunk's offset), and a request is a binary
// search of them. Besides, every real movie spends at least four bytes of its
// file on each frame (its size entry, or its own bytes), so a track that
// claims more frames than the file has four-byte words is refused.
//
// The reader's caller knows how small a sample of its codec can be (a KEO
// frame holds at least its header) and says so when it opens the movie: a
// sample smaller than that is not located, and a track whose samples all
// share a size below it is refused.
#pragma once

#include <cstdint>

struct QuicktimeFile;
struct QuicktimeTrak;

// A frame of a track with a size per sample.
struct QuicktimeFrameEntry {
    int64_t offset; // first byte in the file; -1 when the frame cannot be located
    uint32_t size;  // bytes of the sample
    uint32_t chunk; // 1-based chunk that holds it
};

// The frames of one chunk of a track whose samples share one size: `frames`
// of them from `firstFrame` on, the first at `offset`.
struct QuicktimeChunkEntry {
    int64_t firstFrame;
    int64_t offset;
    uint32_t chunk;
    uint32_t frames; // at least 1
};

struct QuicktimeFrameIndex {
    int32_t built; // 1 once built; a movie open for writing has none
    int64_t totalFrames;
    QuicktimeFrameEntry* table;  // with a size per sample, else null
    QuicktimeChunkEntry* chunks; // with one shared size, else null
    int64_t totalChunks;
    // What locating a frame of a shared size needs: that size, the track
    // (its lookups count the bytes before a frame in its chunk; the movie
    // tree outlives the index) and the file's length.
    int64_t sampleSize;
    const QuicktimeTrak* track;
    int64_t fileSize;

    // The index of the frames of `track`, located as the track's lookups
    // locate them (TrackLookups.cpp) and checked against the file's length:
    // a frame without a chunk, whose offset does not fit, whose size is
    // below `minSampleBytes` or beyond 2^31 - 1, or whose bytes do not all
    // lie inside the file cannot be located. Non-zero, with nothing kept,
    // when the track is refused (see above) or the index cannot be allocated.
    int build(const QuicktimeFile* file, const QuicktimeTrak& track, int64_t minSampleBytes);
    void deleteMe();
    // Offset, size and chunk of `frame`; false when there is no such frame
    // or it cannot be located.
    bool locate(int64_t frame, int64_t* offset, int64_t* size, int64_t* chunk) const;

private:
    int buildPerFrame(const QuicktimeFile* file, const QuicktimeTrak& track,
                      int64_t minSampleBytes);
    int buildPerChunk(const QuicktimeTrak& track);
};
