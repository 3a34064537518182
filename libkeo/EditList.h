// A movie's edit lists, as keo info reports them.
//
// An edit list tells a player which stretch of a track's media to show at
// which point of the movie's timeline: an empty edit at the start delays the
// track, an edit that begins at media time 2 s skips the first two seconds.
// The host is not told of edit lists (a host opens the media as it is, from
// media time 0), and neither keo nor the Python module follows them; keo
// info lists them, and says in a note where a player would show the movie
// otherwise, so a movie that a player starts late or part way in does not
// open from its first frame without a word.
//
// Only the first video track and the first sound track are read: those are
// the tracks the host is given. The tables come from the container, which
// has checked every count against the bytes that hold it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MovFile;

namespace keo::lib {

// One edit, with the time scales that give its figures a meaning.
struct MovieEdit {
    const char* track = "video"; // "video" or "audio"
    int64_t duration = 0;        // on the movie's timeline, in the movie's time scale
    int64_t mediaTime = 0;       // where in the media it starts, in the media's; -1: empty
    double rate = 1;             // 1: the media's own pace
    double start = 0;            // seconds into the movie's timeline where it begins
    double seconds = 0;          // its length on the timeline
    double mediaSeconds = 0;     // mediaTime in seconds (0 for an empty edit)
    bool empty() const { return mediaTime < 0; }
};

// What a track's edit list is read against: its length and, for video, a
// frame's length, both in the media's time scale.
struct EditedTrack {
    const char* track = "video";
    int64_t movieScale = 0; // the movie header's units per second
    int64_t mediaScale = 0; // the media header's
    int64_t mediaDuration = 0;
    int64_t frameDuration = 0; // video only: media units a frame
    int32_t version = 0;       // of the edit list; only version 0 is read
    std::vector<MovieEdit> edits;
};

struct MovieEdits {
    std::vector<MovieEdit> edits;   // the video track's, then the sound track's
    std::vector<std::string> notes; // where a player would show the movie otherwise
};

// The edits of the movie's first video and first sound track, and the notes.
MovieEdits readEdits(const MovFile& movie);

// Fills in the seconds of each edit, and adds to `notes` what a player does
// differently from a host: starts the track late, part way into its media,
// stops it early, or shows its media in pieces or at another pace.
void describeEdits(EditedTrack& track, std::vector<std::string>* notes);

} // namespace keo::lib
