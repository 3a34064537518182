// The exporter side of the host API: the export records and parameter values.
//
// Only what the export render functions and their driver read is declared.
// Field names are the API's own; the layouts are plain C structs.
#pragma once

#include "HostTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

// Passed with every exporter call.
typedef struct exportStdParms {
    int32_t interfaceVer;
    // The host's SPBasicSuite, through which every suite is acquired.
    SPBasicSuite* (*getSPBasicSuite)(void);
} exportStdParms;

// One export: which plug-in, its private record and the time span to write.
typedef struct exDoExportRec {
    uint32_t exporterPluginID; // the host's id of this exporter instance
    void* privateData;         // the exporter's own record (ExporterLocalRec)
    uint32_t fileType;
    int32_t fileObject;
    PrTime startTime; // in host ticks
    PrTime endTime;
    int8_t exportAudio;
    int8_t exportVideo;
    int8_t maximumRenderQuality;
} exDoExportRec;

// The value of an export parameter. The host fills the member that the
// parameter uses and zeroes the others.
typedef struct exParamValue {
    int32_t intValue;  // integers, codes and flags
    double floatValue; // rates and other real numbers
    PrTime timeValue;  // durations in host ticks
} exParamValue;

typedef struct exParamValues {
    int32_t structVersion;
    exParamValue rangeMin;
    exParamValue rangeMax;
    exParamValue value;
    int8_t disabled;
    int8_t hidden;
} exParamValues;

// A parameter identifier, such as "ADBEVideoWidth" or "KEOTransparency".
typedef const char* exParamIdentifier;

#ifdef __cplusplus
}
#endif
