// The frame rate of the first video track's time-to-sample table taken as a
// whole, for a reader that tells a player how fast and how long a movie is.
//
// A movie states one duration per frame. Our writer, like most, gives every
// frame the same one, and then the rate is the time scale over it. Other
// writers do not: one that counts in milliseconds stores 30 frames a second
// as 33, 34, 33 ms, 24 as 42, 42, 41, and the first entry alone would make
// them 30.3 and 23.8 frames a second, their pictures drifting from their
// sound by half a minute an hour; a muxer that gives the first frame the
// time up to the second one's start, or the last the time up to the end of
// the stream, would make a whole movie as slow as that frame. So the rate is
// the frames over the time they take, leaving out entries that cover no
// frame or last no time, a lone first frame longer than the rest and a lone
// last frame whose duration no other frame has.
#include <algorithm>
#include <climits>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"

namespace {

struct Run {
    int64_t frames;
    int64_t duration; // units of the media's time scale, below 2^32
};

// Calls `visit` with each of the table's entries as a run of the movie's
// frames: an entry's count held to the frames not yet covered, entries that
// cover none, or no time, left out (frames of no time would make the others
// play faster). Returns the number of runs. Nothing is allocated: a table
// may hold millions of entries.
template <typename Visit>
int64_t forEachRun(const QuicktimeSTTS& stts, int64_t frames, Visit visit) {
    int64_t runs = 0, left = frames;
    for (int64_t i = 0; stts.table && i < stts.totalEntries && left > 0; ++i) {
        const int64_t count = std::min(stts.table[i].sampleCount, left);
        if (count <= 0)
            continue;
        left -= count;
        if (stts.table[i].sampleDuration > 0)
            visit(runs++, Run{count, stts.table[i].sampleDuration});
    }
    return runs;
}

} // namespace

keo::FrameRate MovFile::tableFrameRate(bool* even) const {
    *even = true;
    int scale = 0, duration = 0;
    frameRate(scale, duration);
    QuicktimeTrak* t = firstVideoTrack();
    if (!t)
        return {scale, duration};
    const QuicktimeSTTS& stts = t->mdia.minf.stbl.stts;
    const int64_t frames = nFrames();
    Run first{0, 0}, last{0, 0};
    int64_t longestAfterFirst = 0;
    const int64_t runs = forEachRun(stts, frames, [&](int64_t i, Run r) {
        if (i == 0)
            first = r;
        else
            longestAfterFirst = std::max(longestAfterFirst, r.duration);
        last = r;
    });
    if (runs == 0)
        return {scale, duration};
    const bool dropFirst = runs >= 2 && first.frames == 1 && first.duration > longestAfterFirst;
    // The runs kept: from `from` to `to`, both included.
    const int64_t from = dropFirst ? 1 : 0;
    int64_t to = runs - 1, lastsAlike = 0;
    forEachRun(stts, frames, [&](int64_t i, Run r) {
        lastsAlike += i >= from && i < to && r.duration == last.duration;
    });
    if (to > from && last.frames == 1 && lastsAlike == 0)
        --to;
    int64_t shortest = INT64_MAX, longest = 0, kept = 0, units = 0;
    forEachRun(stts, frames, [&](int64_t i, Run r) {
        if (i < from || i > to)
            return;
        shortest = std::min(shortest, r.duration);
        longest = std::max(longest, r.duration);
        kept += r.frames;
        units += r.frames * r.duration;
    });
    if (shortest == longest)
        return {scale, longest <= INT_MAX ? longest : 0};
    // Under 2^31 frames of under 2^32 units each, and a time scale under
    // 2^31: both products stay below 2^63.
    *even = false;
    return keo::reduced({static_cast<int64_t>(scale) * kept, units});
}
