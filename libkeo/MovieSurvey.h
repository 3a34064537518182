// What keo learns of a movie beside the plug-in: the file itself, read with
// the container and the frame headers, for what a host is not told (which
// block layouts the frames use, the data rate, the audio's byte order, the
// edit lists), to say why the plug-in refused a file, and whether a request
// it failed failed for memory.
//
// This reads the file, not the importer: the importer is reached only
// through the loaded module (PluginSession).
#pragma once

#include "codec/BlockLayout.h"
#include "libkeo/EditList.h"

#include <cstdint>
#include <string>

namespace keo::lib {

struct MovieSurvey {
    int64_t fileBytes = 0;
    int64_t videoBytes = 0;                  // all video samples
    int64_t frames[kKEOLayoutCount][2] = {}; // [KEOBlockLayout][plain 0, LZF 1]
    int64_t unreadable = 0;                  // frames whose header cannot be read
    std::string videoFormat;                 // "ZUVM"
    std::string audioFormat;                 // "sowt", "twos", "" without sound
    MovieEdits edits;                        // of the first video and sound track
};

// Reads the movie's tables and every frame's header. False when the
// container cannot open the file (the survey is then empty).
bool surveyMovie(const std::string& path, MovieSurvey* survey);

// Checks what the system says of `path` before the plug-in gets it: throws
// Failure (status kExitBadMovie) naming the system's reason (No such file,
// Permission denied, Is a directory) or an empty file.
void checkMovieReadable(const std::string& path);

// Why a file that the system could read was refused: "not a KEO movie:
// ..." with what the file turned out to be.
std::string refusalReason(const std::string& path);

// The plug-in answers 99 for a frame or sound it could not deliver, whatever
// the cause. Whether the cause was memory is found out beside it: the
// request's bytes are read and decoded here with the container and codec. A
// sample that decodes here (the plug-in's failure was then not the file's),
// or memory that cannot be had here, is memory's; a file the container
// cannot open, a sample cut short or one that does not decode, is damage.
bool frameFailedForMemory(const std::string& path, int frame, int width, int height);
bool audioFailedForMemory(const std::string& path, int64_t first, int64_t count);

} // namespace keo::lib
