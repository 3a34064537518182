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
#include <vector>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"

namespace {

struct Run {
    int64_t frames;
    int64_t duration; // units of the media's time scale, below 2^32
};

// The table's entries as runs of the movie's frames: an entry's count held
// to the frames not yet covered, entries that cover none, or no time, left
// out (frames of no time would make the others play faster).
std::vector<Run> runsOf(const QuicktimeSTTS& stts, int64_t frames) {
    std::vector<Run> runs;
    if (!stts.table)
        return runs;
    int64_t left = frames;
    for (int64_t i = 0; i < stts.totalEntries && left > 0; ++i) {
        const int64_t count = std::min(stts.table[i].sampleCount, left);
        if (count <= 0)
            continue;
        left -= count;
        if (stts.table[i].sampleDuration > 0)
            runs.push_back({count, stts.table[i].sampleDuration});
    }
    return runs;
}

// True when no other run than `skip` has a duration `is` accepts.
template <typename Test> bool noOther(const std::vector<Run>& runs, size_t skip, Test is) {
    for (size_t i = 0; i < runs.size(); ++i)
        if (i != skip && is(runs[i].duration))
            return false;
    return true;
}

} // namespace

keo::FrameRate MovFile::tableFrameRate(bool* even) const {
    *even = true;
    int scale = 0, duration = 0;
    frameRate(scale, duration);
    QuicktimeTrak* t = firstVideoTrack();
    if (!t)
        return {scale, duration};
    std::vector<Run> runs = runsOf(t->mdia.minf.stbl.stts, nFrames());
    if (runs.size() >= 2 && runs.front().frames == 1) {
        const int64_t first = runs.front().duration;
        if (noOther(runs, 0, [first](int64_t d) { return d >= first; }))
            runs.erase(runs.begin());
    }
    if (runs.size() >= 2 && runs.back().frames == 1) {
        const int64_t last = runs.back().duration;
        if (noOther(runs, runs.size() - 1, [last](int64_t d) { return d == last; }))
            runs.pop_back();
    }
    if (runs.empty())
        return {scale, duration};
    if (noOther(runs, 0, [&runs](int64_t d) { return d != runs.front().duration; })) {
        const int64_t d = runs.front().duration;
        return {scale, d >= 0 && d <= INT_MAX ? d : 0};
    }
    // Under 2^31 frames of under 2^32 units each, and a time scale under
    // 2^31: both products stay below 2^63.
    int64_t frames = 0, units = 0;
    for (const Run& r : runs) {
        frames += r.frames;
        units += r.frames * r.duration;
    }
    *even = false;
    return keo::reduced({static_cast<int64_t>(scale) * frames, units});
}
