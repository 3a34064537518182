// The sample lookups of a track: which chunk holds a sample, where it
// starts in the file, how many bytes a run of samples takes, and how many
// samples the track has.
//
// Every value comes from the file, so every product and sum is checked: a
// result that does not fit makes the samples concerned unaddressable rather
// than wrapping into a plausible-looking offset.
#include <algorithm>
#include <limits>

#include "base/Bounds.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"

using keo::checkedAdd;
using keo::checkedMul;

namespace {

const int64_t kMaxValue = std::numeric_limits<int64_t>::max();

// The size of the 64-bit mdat header a new file starts with.
const int64_t kNoOffsetBase = 16;

} // namespace

const QuicktimeSTSDTable* QuicktimeTrak::firstDescription() const {
    const QuicktimeSTSD& stsd = mdia.minf.stbl.stsd;
    return stsd.totalEntries > 0 && stsd.table ? &stsd.table[0] : nullptr;
}

void QuicktimeTrak::chunkOfSample(QuicktimeFile*, int64_t* chunkFirstSample, int64_t* chunk,
                                  int64_t sample) const {
    const QuicktimeSTSC& stsc = mdia.minf.stbl.stsc;
    *chunkFirstSample = 0;
    *chunk = 0;
    if (stsc.totalEntries <= 0 || !stsc.table || sample < 0)
        return;
    int64_t prevFirst = 1;
    int64_t perChunk = 0;
    int64_t before = 0;
    for (int64_t i = 0; i < stsc.totalEntries; i++) {
        const QuicktimeSTSCTable& entry = stsc.table[i];
        int64_t run;
        int64_t candidate;
        // A run too long to count holds every sample that can be asked for.
        if (!checkedMul(entry.chunk - prevFirst, perChunk, &run) ||
            !checkedAdd(before, run, &candidate) || candidate > sample)
            break;
        before = candidate;
        perChunk = entry.samples;
        prevFirst = entry.chunk;
    }
    // Chunks of no samples hold nothing: the sample is in no chunk.
    if (perChunk <= 0)
        return;
    int64_t index = (sample - before) / perChunk;
    int64_t found;
    if (!checkedAdd(prevFirst, index, &found))
        return;
    *chunk = found;
    *chunkFirstSample = before + index * perChunk; // not above `sample`
}

int64_t QuicktimeTrak::sampleOfChunk(int64_t chunk) const {
    const QuicktimeSTSC& stsc = mdia.minf.stbl.stsc;
    int64_t total = 0;
    for (int64_t i = 0; stsc.table && i < stsc.totalEntries; i++) {
        const QuicktimeSTSCTable& entry = stsc.table[i];
        if (entry.chunk >= chunk)
            continue;
        int64_t end = chunk;
        if (i + 1 < stsc.totalEntries)
            end = std::min(chunk, stsc.table[i + 1].chunk);
        int64_t run;
        if (end <= entry.chunk)
            continue;
        if (!checkedMul(end - entry.chunk, entry.samples, &run) || !checkedAdd(total, run, &total))
            return kMaxValue;
    }
    return total;
}

int64_t QuicktimeTrak::chunkSamples(int64_t chunk) const {
    const QuicktimeSTSC& stsc = mdia.minf.stbl.stsc;
    if (stsc.totalEntries <= 0 || !stsc.table)
        return 0;
    for (int64_t i = stsc.totalEntries - 1; i >= 0; i--) {
        if (stsc.table[i].chunk <= chunk)
            return stsc.table[i].samples;
    }
    return stsc.table[0].samples;
}

int64_t QuicktimeTrak::chunkToOffset(QuicktimeFile*, int64_t chunk) const {
    const QuicktimeSTCO& stco = mdia.minf.stbl.stco;
    if (stco.totalEntries <= 0 || !stco.table)
        return kNoOffsetBase;
    // Clamped both ways, so the table is never indexed outside itself.
    int64_t index = std::max<int64_t>(1, std::min(chunk, stco.totalEntries)) - 1;
    return stco.table[index];
}

int64_t QuicktimeTrak::sampleRangeSize(int64_t from, int64_t to) const {
    const QuicktimeSTSZ& stsz = mdia.minf.stbl.stsz;
    if (to <= from)
        return 0;
    if (from < 0)
        return -1;
    int64_t last = std::min(to, stsz.totalEntries); // samples past the table add nothing
    if (stsz.sampleSize == 0) {
        int64_t total = 0;
        for (int64_t s = from; stsz.table && s < last; s++) {
            if (!checkedAdd(total, stsz.table[s], &total))
                return -1;
        }
        return total;
    }
    const QuicktimeSTSDTable* desc = firstDescription();
    int64_t bytes;
    if (mdia.minf.isVideo && desc && desc->formatIs("ZUVM")) {
        int64_t counted = std::max<int64_t>(0, last - from);
        return checkedMul(stsz.sampleSize, counted, &bytes) ? bytes : -1;
    }
    // Sound: sample frames of the track's own channel count.
    if (!desc)
        return 0;
    int64_t bits;
    if (!checkedMul(static_cast<int64_t>(desc->sampleSize), to - from, &bits) ||
        !checkedMul(bits, static_cast<int64_t>(desc->channels), &bits))
        return -1;
    return bits / 8;
}

int64_t QuicktimeTrak::sampleToOffset(QuicktimeFile* file, int64_t sample) const {
    int64_t first;
    int64_t chunk;
    chunkOfSample(file, &first, &chunk, sample);
    // A sample whose chunk has no offset entry has no place in the file.
    const QuicktimeSTCO& stco = mdia.minf.stbl.stco;
    if (chunk < 1 || chunk > stco.totalEntries)
        return -1;
    int64_t inChunk = sampleRangeSize(first, sample);
    int64_t offset;
    if (inChunk < 0 || !checkedAdd(chunkToOffset(file, chunk), inChunk, &offset))
        return -1;
    return offset;
}

int64_t QuicktimeTrak::samples(QuicktimeFile* file, MovFile&) const {
    const QuicktimeSTBL& stbl = mdia.minf.stbl;
    if (file && file->wr) {
        if (stbl.stco.totalEntries <= 0 || stbl.stsc.totalEntries <= 0 || !stbl.stsc.table)
            return 0;
        int64_t total;
        if (!checkedAdd(sampleOfChunk(stbl.stco.totalEntries),
                        stbl.stsc.table[stbl.stsc.totalEntries - 1].samples, &total))
            return 0;
        return total;
    }
    int64_t total;
    int64_t unused;
    if (duration(&total, &unused) != 0 || !stbl.stts.table)
        return 0;
    if (mdia.minf.isVideo && !mdia.minf.isAudio) {
        int64_t first = stbl.stts.table[0].sampleDuration;
        return first > 0 ? total / first : 0;
    }
    return total;
}

int QuicktimeTrak::duration(int64_t* total, int64_t* timeScale) const {
    const QuicktimeSTTS& stts = mdia.minf.stbl.stts;
    *timeScale = mdia.mdhd.timeScale;
    *total = 0;
    int64_t sum = 0;
    for (int64_t i = 0; stts.table && i < stts.totalEntries; i++) {
        int64_t part;
        if (!checkedMul(stts.table[i].sampleCount, stts.table[i].sampleDuration, &part) ||
            !checkedAdd(sum, part, &sum))
            return 1;
    }
    *total = sum;
    return 0;
}
