// Writing a KEO movie through the export render functions, with the
// stand-in host playing the exporter's host.
//
// The driver plays the host: it sets the export parameters and has the
// exporter entry's calls (exporter/ExportSession.h) begin the export (the
// movie, the suites, the renderer), render each frame at its start
// (base/FrameRate.h), render the sound for the frames' duration, and end.
// The host lends the caller's pictures to its renders and asks the caller's
// function for the sound, so both can come from anywhere.
//
// The movie is written under a temporary name and moved into place only
// when it is complete and the host's books balance.
#pragma once

#include "base/FrameRate.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace keo::lib {

struct ExportSettings {
    std::string output;              // "-" is standard output
    std::vector<std::string> inputs; // files read, which the output must not be
    int width = 0;
    int height = 0;
    FrameRate rate;
    bool alpha = false; // "KEOTransparency"
    int optimize = 0;   // "KEOOptimizeFor"
    int threads = 1;    // "KEOEncodeThreads"
    bool hasAudio = false;
    int channels = 0;   // 1, 2 or 6
    int sampleRate = 0; // Hz
    int bits = 0;       // 8, 16, 24 or 32
    // Told the count of frames written after each frame, to show progress.
    std::function<void(int64_t framesWritten)> onFrameWritten;
    // Freed frame memory kept for the next frame, for a process that ends
    // with the export; a long-lived one (Python) keeps malloc's own ways.
    bool keepFreedMemory = true;
};

// Fills frame `index` (width x height RGBA, top row first) and returns true,
// or returns false when there are no more frames. Throws Failure on errors.
using FrameFeed = std::function<bool(int64_t index, uint8_t* rgba)>;
// Lends frame `index` (asked for with 0, 1, 2, ...): width x height RGBA,
// top row first, rows *pitch bytes apart (at least width x 4), valid until
// the next call; null when there are no more frames. Throws Failure on
// errors. A source whose pictures are in memory already (a movie's decoded
// frames, stills decoded ahead) lends them where they lie: the host reads
// them from there, and no copy is made.
using PictureSource = std::function<const uint8_t*(int64_t index, size_t* pitch)>;
// Fills `count` sample frames from `first` into planar floats; false on a
// read error. Frames past the end of the sound must be filled with silence.
using AudioFeed =
    std::function<bool(int64_t first, uint32_t count, uint32_t channels, float** planar)>;

struct ExportStats {
    int64_t frames = 0;
    double encodeSeconds = 0; // inside RenderAndWriteVideoFrame
};

// Checks the settings before anything is created; throws Failure.
void checkExportSettings(const ExportSettings& s);

// Freed frame-sized memory stays with the process for the next frame (keo
// sets this for every command; a long-lived caller such as the Python module
// does not).
void keepFreedFrameMemory();
// Writes the movie; throws Failure, leaving no output behind. A feed's
// frames are read ahead on a thread of their own when s.threads > 1
// (FramesAhead.h); a source's are taken as it lends them.
ExportStats exportMovie(const ExportSettings& s, const FrameFeed& frames, const AudioFeed& audio);
ExportStats exportMovie(const ExportSettings& s, const PictureSource& pictures,
                        const AudioFeed& audio);

} // namespace keo::lib
