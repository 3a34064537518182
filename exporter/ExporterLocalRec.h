// ExporterLocalRec: the exporter's private record, reached through the export
// record's privateData.
//
// KEOExportBegin (exporter/ExportSession.cpp) fills it before the first
// render call: it opens the movie with MovFile::openWrite, acquires the
// suites and makes the video renderer; tests fill one of their own. The
// render functions only read it.
// Keep the fields in this order: drivers fill the record positionally.
#pragma once

#include <cstdint>

#include "KEOHostAPI.h"

struct MovFile;

struct ExporterLocalRec {
    MovFile* movFile;                                    // opened for writing
    const PrSDKExportParamSuite* exportParamSuite;       // every parameter read
    const PrSDKPPixSuite* ppixSuite;                     // the rendered frames
    const PrSDKTimeSuite* timeSuite;                     // ticks per audio sample
    const PrSDKMemoryManagerSuite* memorySuite;          // the audio channel arrays
    const PrSDKSequenceAudioSuite* sequenceAudioSuite;   // the audio renderer
    const PrSDKSequenceRenderSuite* sequenceRenderSuite; // the video frames
    uint32_t videoRenderID;                              // from MakeVideoRenderer
    const PrSDKAudioSuite* audioSuite;                   // float to integer samples
};
