// Reading a movie's edit lists from the container's tree, and saying where a
// player, which follows them, shows the movie otherwise than a host.
#include "libkeo/EditList.h"

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace keo::lib {
namespace {

std::string secondsText(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f s", s);
    return buf;
}

const char* trackWord(const EditedTrack& t) {
    return std::string(t.track) == "video" ? "video" : "sound";
}

// The frame at `mediaTime`, for video; "" for sound.
std::string frameText(const EditedTrack& t, double mediaTime) {
    if (t.frameDuration <= 0)
        return "";
    return " (frame " + std::to_string(static_cast<long long>(mediaTime / t.frameDuration)) + ")";
}

// Whether, from the first shown edit on, the media is shown other than
// straight on at its own pace: an empty edit between two others (a pause),
// a rate other than 1, or an edit that does not take up where the one
// before it stopped (a jump back or forward).
bool showsInPieces(const std::vector<const MovieEdit*>& timed, size_t first, double slack) {
    double next = -1;
    for (size_t i = first; i < timed.size(); ++i) {
        const MovieEdit& e = *timed[i];
        if (e.empty())
            return i + 1 < timed.size() || e.seconds > slack;
        if (e.rate != 1.0)
            return true;
        if (next >= 0 && std::fabs(e.mediaSeconds - next) > slack)
            return true;
        next = e.mediaSeconds + e.seconds;
    }
    return false;
}

void readTrack(const QuicktimeTrak* trak, const char* kind, int64_t movieScale, MovieEdits* out) {
    if (!trak || !trak->edts.elst.table || trak->edts.elst.totalEntries <= 0)
        return;
    const QuicktimeELST& elst = trak->edts.elst;
    EditedTrack t;
    t.track = kind;
    t.movieScale = movieScale;
    if (trak->duration(&t.mediaDuration, &t.mediaScale) != 0)
        t.mediaDuration = 0;
    const QuicktimeSTTS& stts = trak->mdia.minf.stbl.stts;
    if (std::string(kind) == "video" && stts.table && stts.totalEntries > 0)
        t.frameDuration = stts.table[0].sampleDuration;
    t.version = elst.version;
    if (t.version != 0) {
        // Its entries would have been read in the wrong layout.
        out->notes.push_back("the edit list of its " + std::string(trackWord(t)) +
                             " is of version " + std::to_string(t.version) +
                             ", which keo does not read; a player may show the " + trackWord(t) +
                             " otherwise than the host and keo do");
        return;
    }
    for (int64_t i = 0; i < elst.totalEntries; ++i) {
        MovieEdit e;
        e.track = kind;
        e.duration = elst.table[i].duration;
        // Stored as 32 bits; -1 marks an empty edit, and no edit starts
        // before the media does, so every negative time shows nothing.
        const int32_t time = static_cast<int32_t>(static_cast<uint32_t>(elst.table[i].time));
        e.mediaTime = time < 0 ? -1 : time;
        e.rate = elst.table[i].rate;
        t.edits.push_back(e);
    }
    describeEdits(t, &out->notes);
    out->edits.insert(out->edits.end(), t.edits.begin(), t.edits.end());
}

} // namespace

void describeEdits(EditedTrack& t, std::vector<std::string>* notes) {
    if (t.movieScale <= 0 || t.mediaScale <= 0)
        return; // durations without a scale say nothing in seconds
    double at = 0;
    for (MovieEdit& e : t.edits) {
        e.start = at;
        e.seconds = static_cast<double>(e.duration) / t.movieScale;
        e.mediaSeconds = e.empty() ? 0 : static_cast<double>(e.mediaTime) / t.mediaScale;
        at += e.seconds;
    }
    // An edit of no length takes no time on the timeline; some writers put
    // one there to mean the whole media, so a list of nothing else says
    // nothing a player shows.
    std::vector<const MovieEdit*> timed;
    for (const MovieEdit& e : t.edits)
        if (e.duration > 0)
            timed.push_back(&e);
    if (timed.empty())
        return;
    // Writers round an edit's duration to the movie's units, and its end to
    // a frame; differences below that are no change a viewer sees.
    const double frame = static_cast<double>(t.frameDuration) / t.mediaScale;
    const double slack = std::max(frame, 1.0 / t.movieScale) + 1e-9;
    const std::string what = trackWord(t);
    const std::string ours = "; the host and keo show it from media time 0";
    size_t first = 0;
    double delay = 0;
    while (first < timed.size() && timed[first]->empty())
        delay += timed[first++]->seconds;
    if (first == timed.size()) {
        notes->push_back("its " + what + "'s edit list shows none of it" + ours);
        return;
    }
    const MovieEdit& shown = *timed[first];
    if (delay > 0)
        notes->push_back("a player starts its " + what + " " + secondsText(delay) +
                         " late (an empty edit before it)" + ours);
    if (shown.mediaTime > 0)
        notes->push_back("a player starts its " + what + " " + secondsText(shown.mediaSeconds) +
                         " into its media" + frameText(t, static_cast<double>(shown.mediaTime)) +
                         ours);
    if (showsInPieces(timed, first, slack)) {
        notes->push_back("its " + what + "'s " + std::to_string(t.edits.size()) +
                         " edits have a player pause, jump or change pace; the host and keo "
                         "show the media straight through");
        return;
    }
    double end = 0;
    for (const MovieEdit* e : timed)
        if (!e->empty())
            end = e->mediaSeconds + e->seconds;
    const double length = static_cast<double>(t.mediaDuration) / t.mediaScale;
    if (end + slack < length)
        notes->push_back("a player stops its " + what + " at " + secondsText(end) + " of its " +
                         secondsText(length) + frameText(t, end * t.mediaScale) +
                         "; the host and keo show it to the end");
}

MovieEdits readEdits(const MovFile& movie) {
    MovieEdits out;
    const QuicktimeFile* f = movie.file;
    if (!f)
        return out;
    const int64_t movieScale = f->moov.mvhd.timeScale;
    readTrack(movie.firstVideoTrack(), "video", movieScale, &out);
    if (f->totalAudioTracks > 0 && f->audioMaps)
        readTrack(f->audioMaps[0].track, "audio", movieScale, &out);
    return out;
}

} // namespace keo::lib
