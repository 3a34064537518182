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

// Makes CompressDXTFrame read its settings through the host. Safe to call
// before every encode: it only stores a function pointer.
void useHostParamsForEncoder();

} // namespace keo::exporter
