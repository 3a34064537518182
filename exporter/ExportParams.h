// Export parameter access through the host's Export Param Suite.
//
// Every read uses the export record's exporterPluginID and group 0. The
// record's privateData must be an ExporterLocalRec with its exportParamSuite
// set; anything missing is a failure, never a silent zero.
#pragma once

#include <cstdint>

#include "KEOHostAPI.h"

namespace keo::exporter {

// 0 on success, else a host error or kKEOExportBadArgument; *value untouched
// on failure.
int readParamInt(exDoExportRec* record, const char* identifier, int32_t* value);
int readParamFloat(exDoExportRec* record, const char* identifier, double* value);
int readParamTime(exDoExportRec* record, const char* identifier, PrTime* value);

} // namespace keo::exporter

// Encodes one ARGB32 frame (codec/FrameEncoder.h) with the three codec
// settings, "KEOTransparency", "KEOOptimizeFor" and "KEOEncodeThreads", read
// from the export record on every frame. Returns the sample length, or 0 when
// a setting cannot be read or the frame cannot be encoded: a frame encoded
// with made-up settings would be a silent wrong export.
int CompressDXTFrame(unsigned char* source, unsigned char* destination, int width, int height,
                     int rowBytes, exDoExportRec* record);
