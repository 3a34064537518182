// Playing the host's part for the importer module, through the stand-in host.
//
// A session loads the module through the plug-in driver, calls imInit and
// enumerates the formats and pixel formats until 301, as a host does when it
// starts. openMovie then runs imOpenFile8 and imGetInfo8; frames come through
// imGetSourceVideo and sound through imImportAudio7; closeMovie runs
// imQuietFile and imCloseFile. endSession checks the stand-in host's books:
// every handle, suite and frame the plug-in took must have come back.
//
// The module is never unloaded: its encoder workers are registered for the
// end of the process, and unloading a plug-in early is not what hosts do.
#pragma once

#include "KEOHostAPI.h"
#include "PluginDriver.h"
#include "StandInHost.h"
#include "base/PixelOrder.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace keo::lib {

// What the host learns from imGetInfo8, and what it derives from it.
struct MovieInfo {
    int width = 0;
    int height = 0;
    int depth = 0;
    bool alpha = false;
    int scale = 0;      // vidScale
    int sampleSize = 0; // vidSampleSize
    int duration = 0;   // vidDuration, in units of 1/scale seconds
    // Derived by the host: frames = duration / sampleSize, ticks per frame =
    // ticks per second x sampleSize / scale (the value the importer's record
    // holds for the canonical rates it reports).
    int frames = 0;
    int64_t ticksPerFrame = 0;
    bool hasAudio = false;
    int channels = 0;
    float sampleRate = 0;
    int sampleType = 0;      // kPrAudioSampleType_*
    int64_t audioFrames = 0; // audDuration
};

// Bits per stored sample of a host sample type; 0 for an unknown type.
int bitsOfSampleType(int sampleType);

struct PluginSession {
    std::string modulePath;
    keo::host::PluginModule module;
    keo::host::StandInHost* host = nullptr;
    bool ownsHost = true; // false after joinSession: the host serves other sessions too
    keo::host::ImporterSession importer; // the open movie's record and description
    std::string moviePath;
    bool movieOpen = false;
    MovieInfo info;
    int64_t audioDelivered = 0; // sample frames handed over so far, for continuation requests

    PluginSession() = default;
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;
    // Closes the movie and frees the host without reporting (error paths).
    ~PluginSession();
};

// The module to load: --plugin if given, else $KEO_PLUGIN, else
// ../lib/KEOImporter.so beside the running executable.
std::string locatePlugin(const std::string& option);

// Loads the module and runs imInit and the format enumeration. Throws Failure.
void startSession(PluginSession& s, const std::string& modulePath);
// The same start on a module and a host that outlive the session and serve
// other sessions as well (the Python module keeps one host for all the
// movies it has open): nothing is loaded, and the session neither destroys
// the host nor checks its books, which hold the other sessions' things.
void joinSession(PluginSession& s, const std::string& modulePath, ImportEntryFunc entry,
                 keo::host::StandInHost* host);
// imOpenFile8 and imGetInfo8. A missing file or one the plug-in refuses
// throws Failure with status 2.
void openMovie(PluginSession& s, const std::string& path);
// Fetches frame `index` into `argb` (width x height x 4, top row first, rows
// packed, bytes A, R, G, B). Returns imGetSourceVideo's result; -1 when the
// plug-in answered 0 but handed back no frame or one of the wrong size.
// A failure that was memory's, not the frame's, throws OutOfMemory instead
// (so do fetchFrameRows and fetchAudio).
int fetchFrame(PluginSession& s, int index, uint8_t* argb);
// A frame as the host holds it: row y of the picture (width x 4 bytes of A,
// R, G, B) starts at top + y * pitch. Host frames are bottom row first, so
// the pitch is negative.
struct FrameRows {
    const uint8_t* top;
    ptrdiff_t pitch;
};
// Fetches frame `index` like fetchFrame, but hands its rows to `use` where
// the host holds them, instead of copying them out first; the host's frame
// is given back after `use` returns or throws. `use` is called only when the
// result is 0.
int fetchFrameRows(PluginSession& s, int index, const std::function<void(const FrameRows&)>& use);
// The frame's rows into `dest` as width x height pixels of `to`, rows packed,
// top row first: turned over on the way when the host holds them bottom row
// first, in the one pass of keo::convertPixels.
void copyFrameRows(const FrameRows& rows, int width, int height, keo::PixelLayout to,
                   uint8_t* dest);
// One imImportAudio7 request of `count` sample frames at `position` (-1:
// continue after the last request) into `channels` arrays of `count` floats.
// *delivered receives the frames the plug-in filled. Returns its result.
int fetchAudio(PluginSession& s, int64_t position, uint32_t count, float** planar,
               int64_t* delivered);
// The sample frames of a request, "first to last" ("first" for one frame).
std::string sampleSpan(int64_t first, int64_t count);
// imQuietFile and imCloseFile.
void closeMovie(PluginSession& s);
// Closes what is open and throws Failure if the plug-in kept anything (a
// joined session only closes).
void endSession(PluginSession& s);

} // namespace keo::lib
