// Building the index of the first video track's frames, and looking a frame
// up in it.
#include "container/FrameIndex.h"

#include <algorithm>
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

// Calls visit(chunk, firstFrame, frames) for each chunk that holds frames, in
// order, the way the sample-to-chunk runs number the samples: a run covers
// the chunks from its first up to the next run's first. Chunks past the
// offset table hold no sample the file can show.
template <typename Visit>
void forEachChunk(const QuicktimeSTBL& stbl, int64_t frames, Visit visit) {
    const QuicktimeSTSC& stsc = stbl.stsc;
    const QuicktimeSTCO& stco = stbl.stco;
    if (!stsc.table || !stco.table)
        return;
    int64_t frame = 0;
    int64_t run = 0;
    for (int64_t chunk = 1; chunk <= stco.totalEntries && frame < frames; chunk++) {
        while (run + 1 < stsc.totalEntries && stsc.table[run + 1].chunk <= chunk)
            run++;
        const int64_t n = std::min(stsc.table[run].samples, frames - frame);
        if (n <= 0)
            continue;
        visit(chunk, frame, n);
        frame += n;
    }
}

} // namespace

int QuicktimeFrameIndex::build(const QuicktimeFile* file, const QuicktimeTrak& t,
                               int64_t minSampleBytes) {
    deleteMe();
    const QuicktimeSTSZ& stsz = t.mdia.minf.stbl.stsz;
    const int64_t frames = stsz.totalEntries;
    if (frames > file->fileSize / 4 || (stsz.sampleSize == 0 && frames > 0 && !stsz.table) ||
        (stsz.sampleSize != 0 && frames > 0 && stsz.sampleSize < minSampleBytes))
        return 1;
    totalFrames = frames;
    fileSize = file->fileSize;
    track = &t;
    const int result =
        stsz.sampleSize == 0 ? buildPerFrame(file, t, minSampleBytes) : buildPerChunk(t);
    if (result != 0) {
        deleteMe();
        return result;
    }
    built = 1;
    return 0;
}

int QuicktimeFrameIndex::buildPerFrame(const QuicktimeFile* file, const QuicktimeTrak& t,
                                       int64_t minSampleBytes) {
    const QuicktimeSTBL& stbl = t.mdia.minf.stbl;
    if (totalFrames <= 0)
        return 0;
    table = static_cast<QuicktimeFrameEntry*>(
        std::malloc(static_cast<size_t>(totalFrames) * sizeof(QuicktimeFrameEntry)));
    if (!table)
        return 1;
    std::fill(table, table + totalFrames, QuicktimeFrameEntry{-1, 0, 0});
    forEachChunk(stbl, totalFrames, [&](int64_t chunk, int64_t first, int64_t n) {
        int64_t inChunk = 0; // bytes of this chunk's samples before the frame
        for (int64_t f = first; f < first + n; f++) {
            const int64_t size = stbl.stsz.table[f];
            if (size >= minSampleBytes)
                table[f] = place(chunk, stbl.stco.table[chunk - 1], inChunk, size, file->fileSize);
            if (inChunk >= 0 && !keo::checkedAdd(inChunk, size, &inChunk))
                inChunk = -1;
        }
    });
    return 0;
}

int QuicktimeFrameIndex::buildPerChunk(const QuicktimeTrak& t) {
    const QuicktimeSTBL& stbl = t.mdia.minf.stbl;
    sampleSize = stbl.stsz.sampleSize;
    // At most one entry per chunk of the offset table, and one per frame.
    const int64_t most = std::min(stbl.stco.totalEntries, totalFrames);
    if (most <= 0)
        return 0;
    chunks = static_cast<QuicktimeChunkEntry*>(
        std::malloc(static_cast<size_t>(most) * sizeof(QuicktimeChunkEntry)));
    if (!chunks)
        return 1;
    forEachChunk(stbl, totalFrames, [&](int64_t chunk, int64_t first, int64_t n) {
        chunks[totalChunks++] = {first, stbl.stco.table[chunk - 1], static_cast<uint32_t>(chunk),
                                 static_cast<uint32_t>(n)};
    });
    return 0;
}

void QuicktimeFrameIndex::deleteMe() {
    std::free(table);
    std::free(chunks);
    *this = QuicktimeFrameIndex{};
}

bool QuicktimeFrameIndex::locate(int64_t frame, int64_t* offset, int64_t* size,
                                 int64_t* chunk) const {
    if (frame < 0 || frame >= totalFrames)
        return false;
    const QuicktimeFrameEntry* e = table ? &table[frame] : nullptr;
    QuicktimeFrameEntry placed;
    if (!e && chunks) {
        // The last chunk whose first frame is not after `frame`.
        const QuicktimeChunkEntry* after = std::upper_bound(
            chunks, chunks + totalChunks, frame,
            [](int64_t f, const QuicktimeChunkEntry& entry) { return f < entry.firstFrame; });
        if (after == chunks)
            return false;
        const QuicktimeChunkEntry* c = after - 1;
        if (frame - c->firstFrame >= c->frames)
            return false;
        // A shared size has no table to add up; the track counts the bytes
        // before the frame as its lookups do.
        placed = place(c->chunk, c->offset, track->sampleRangeSize(c->firstFrame, frame),
                       sampleSize, fileSize);
        e = &placed;
    }
    if (!e || e->offset < 0)
        return false;
    *offset = e->offset;
    *size = e->size;
    *chunk = e->chunk;
    return true;
}
