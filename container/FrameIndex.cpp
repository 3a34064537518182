// Building the per-frame index of the first video track.
#include "container/FrameIndex.h"

#include <climits>
#include <cstdlib>

#include "base/Bounds.h"
#include "container/QuicktimeFile.h"

namespace {

// The entry of a sample `inChunk` bytes into a chunk at `chunkOffset`
// (inChunk -1: the bytes before it could not be counted).
QuicktimeFrameEntry place(int64_t chunk, int64_t chunkOffset, int64_t inChunk, int64_t size,
                          int64_t fileSize) {
    QuicktimeFrameEntry e = {-1, 0, 0};
    int64_t offset, end;
    if (inChunk < 0 || size < 0 || size > INT_MAX ||
        !keo::checkedAdd(chunkOffset, inChunk, &offset) || !keo::checkedAdd(offset, size, &end) ||
        end > fileSize)
        return e;
    e.offset = offset;
    e.size = static_cast<uint32_t>(size);
    e.chunk = static_cast<uint32_t>(chunk);
    return e;
}

} // namespace

int QuicktimeFrameIndex::build(const QuicktimeFile* file, const QuicktimeTrak& track) {
    deleteMe();
    const QuicktimeSTBL& stbl = track.mdia.minf.stbl;
    const QuicktimeSTSZ& stsz = stbl.stsz;
    const QuicktimeSTSC& stsc = stbl.stsc;
    const QuicktimeSTCO& stco = stbl.stco;
    const int64_t frames = stsz.totalEntries;
    if (frames > file->fileSize / 4 || (stsz.sampleSize == 0 && frames > 0 && !stsz.table))
        return 1;
    if (frames > 0) {
        table = static_cast<QuicktimeFrameEntry*>(
            std::malloc(static_cast<size_t>(frames) * sizeof(QuicktimeFrameEntry)));
        if (!table)
            return 1;
        for (int64_t f = 0; f < frames; f++)
            table[f] = {-1, 0, 0};
    }
    totalFrames = frames;
    built = 1;
    if (!stsc.table || !stco.table)
        return 0;

    // Chunk by chunk, the way the sample-to-chunk runs number the samples:
    // a run covers the chunks from its first up to the next run's first.
    // Chunks past the offset table hold no sample the file can show.
    int64_t frame = 0;
    int64_t run = 0;
    for (int64_t chunk = 1; chunk <= stco.totalEntries && frame < frames; chunk++) {
        while (run + 1 < stsc.totalEntries && stsc.table[run + 1].chunk <= chunk)
            run++;
        const int64_t perChunk = stsc.table[run].samples;
        const int64_t first = frame;
        int64_t inChunk = 0; // bytes of this chunk's samples before `frame`
        for (int64_t k = 0; k < perChunk && frame < frames; k++, frame++) {
            const int64_t size = stsz.sampleSize != 0 ? stsz.sampleSize : stsz.table[frame];
            // A constant size has no table to add up; the track counts the
            // bytes before the sample as its lookups do.
            if (stsz.sampleSize != 0)
                inChunk = track.sampleRangeSize(first, frame);
            table[frame] = place(chunk, stco.table[chunk - 1], inChunk, size, file->fileSize);
            if (stsz.sampleSize == 0 && inChunk >= 0 && !keo::checkedAdd(inChunk, size, &inChunk))
                inChunk = -1;
        }
    }
    return 0;
}

void QuicktimeFrameIndex::deleteMe() {
    std::free(table);
    table = nullptr;
    totalFrames = 0;
    built = 0;
}

bool QuicktimeFrameIndex::locate(int64_t frame, int64_t* offset, int64_t* size,
                                 int64_t* chunk) const {
    if (frame < 0 || frame >= totalFrames || table[frame].offset < 0)
        return false;
    *offset = table[frame].offset;
    *size = table[frame].size;
    *chunk = table[frame].chunk;
    return true;
}
