// What an exporter entry does around the render functions, as four calls:
// begin, a frame, the sound, end. `keo export` (libkeo/MovieExport.cpp)
// drives them over the stand-in host; a host's exporter entry would call
// them from its own selectors.
//
//   exDoExportRec er = ...;                     // exporterPluginID, startTime,
//                                               // exportAudio for a sound track
//   KEOExportMovie movie{path, {num, den}};
//   int err = KEOExportBegin(stdParms, &er, movie, &why);
//   for each frame time t: err = KEOExportFrame(&er, t);
//   err = KEOExportAudio(&er, duration);        // when the movie has sound
//   err = KEOExportEnd(&er, &why);              // always, after a begin that worked
//
// The exporter keeps its private record (exporter/ExporterLocalRec.h)
// behind the export record's privateData: begin makes it, end frees it, and
// nothing outside exporter/ looks inside. Every call answers 0, a host's
// result (passed on unchanged) or a KEOExportResult (ExportRender.h); none
// throws.
#pragma once

#include "KEOHostAPI.h"
#include "base/FrameRate.h"

struct KEOExportMovie {
    const char* path; // the file to create
    // The movie's frame rate as its exact fraction: the host knows it only
    // as ticks per frame ("ADBEVideoFPS"), rounded where the rate's frames
    // last no whole number of ticks.
    keo::FrameRate rate;
};

// Reads the export settings the movie needs, once: "ADBEVideoWidth",
// "ADBEVideoHeight", "ADBEVideoFPS" and, when the record's exportAudio asks
// for sound, "ADBEAudioRatePerSecond", "ADBEAudioNumChannels" and
// "ADBEAudioSampleType". Creates the movie with
// MovFile::openWrite, acquires the suites the render functions use through
// SPBasicSuite, makes the video renderer, and sets record->privateData.
// On failure everything taken is given back, privateData stays null, and
// *writeErrno is the system's reason when the file could not be created
// (else 0): kKEOExportWriteFailed for the movie, kKEOExportBadArgument for
// an unusable setting, kKEOExportHostFailed for a suite or the renderer.
int KEOExportBegin(exportStdParms* stdParms, exDoExportRec* record, const KEOExportMovie& movie,
                   int* writeErrno);

// The frame at `time` (host ticks) rendered, encoded and appended:
// RenderAndWriteVideoFrame.
int KEOExportFrame(exDoExportRec* record, PrTime time);

// `duration` ticks of sound from the record's startTime, appended block by
// block: RenderAndWriteAllAudio.
int KEOExportAudio(exDoExportRec* record, PrTime duration);

// The system's reason for the movie's last failed write, 0 when none.
int KEOExportWriteErrno(const exDoExportRec* record);

// Releases the renderer and the suites, closes the movie (its header goes
// after the media data) and frees the private record; privateData is null
// afterwards. 0, or kKEOExportWriteFailed with *writeErrno the reason when
// the system gave one. Does nothing without a private record.
int KEOExportEnd(exDoExportRec* record, int* writeErrno);
