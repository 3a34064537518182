// The export render functions: frames and audio from the host into a KEO movie.
//
// The exporter entry's calls (exporter/ExportSession.h) set them up: the
// movie opened with the export's exact frame rate, the suites, the video
// renderer, all in the private record (ExporterLocalRec.h) that the export
// record's privateData points at. Then, for each frame time t,
// RenderAndWriteVideoFrame(t, &er), once RenderAndWriteAllAudio(&er,
// duration), and the movie is closed.
//
// The movie's audio track must have been opened with the channel count and
// sample size that "ADBEAudioNumChannels" and "ADBEAudioSampleType" give.
//
// Results are 0, a result of the host's render calls (passed on unchanged), or
// one of the KEOExportResult codes below, which never collide with host codes.
// A failed call never leaves a partial chunk in the movie's tables: what was
// written before it stays readable once the movie is closed.
#pragma once

#include "KEOHostAPI.h"

enum KEOExportResult {
    kKEOExportOK = 0,
    kKEOExportBadArgument = -200,    // null record, movie or suite, or an unusable parameter
    kKEOExportNoFrame = -201,        // the render reported success without a frame
    kKEOExportBadFrame = -202,       // the frame's size, format or row bytes are not as asked
    kKEOExportOutOfMemory = -203,    // a buffer could not be allocated
    kKEOExportEncodeFailed = -204,   // the frame encoder produced no payload
    kKEOExportWriteFailed = -205,    // the movie did not take the chunk
    kKEOExportBadAudioFormat = -206, // sample type or channel type not supported
    kKEOExportHostFailed = -207,     // a host call failed or answered nonsense
};

// A short English sentence for any result of the functions below.
const char* KEOExportResultText(int result);

// Renders the frame at `time` (host ticks), encodes it and appends it to the
// movie as one video sample. Returns the render call's result when the frame
// was written (a non-zero result that still delivered a frame is written and
// returned), the render's failure when it delivered no frame or stopped the
// render (0x30001), or a KEOExportResult.
int RenderAndWriteVideoFrame(long long time, exDoExportRec* exportRecord);

// Renders `duration` ticks of audio from the record's startTime and appends it
// block by block, one audio chunk per block. Returns 0, the first failing
// GetAudio result, or a KEOExportResult.
int RenderAndWriteAllAudio(exDoExportRec* exportRecord, long long duration);

// Channels of a host channel-type code: 1, 2 or 6; -1 for an unknown code.
int GetNumberOfAudioChannels(int channelType);

// Markers and project data are not kept in KEO movies; returns 0.
int WriteMarkerAndProjectDataToFile(exportStdParms* stdParms, exDoExportRec* exportRecord);
