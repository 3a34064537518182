// The host suites our code asks for, by name and version: the importer's, in
// the order it acquires them (and releases them again), and the ones an
// exporter's record holds. The stand-in host offers exactly these, so a suite
// the plug-in starts to use without the host offering it fails at once. Ours,
// not the vendor's, so it stays on the path beside KEOHostAPI.h.
#pragma once

#include <cstdint>

#include "KEOHostAPI.h"

struct KEOSuiteName {
    const char* name;
    int32_t version;
};

constexpr KEOSuiteName kKEOImporterSuites[] = {
    {kPrSDKPPixCreatorSuite, kPrSDKPPixCreatorSuiteVersion},
    {kPrSDKPPixCacheSuite, kPrSDKPPixCacheSuiteVersion},
    {kPrSDKPPixSuite, kPrSDKPPixSuiteVersion},
    {kPrSDKTimeSuite, kPrSDKTimeSuiteVersion},
    {kPrSDKAudioSuite, kPrSDKAudioSuiteVersion},
};

constexpr KEOSuiteName kKEOExporterSuites[] = {
    {kPrSDKExportParamSuite, kPrSDKExportParamSuiteVersion},
    {kPrSDKSequenceRenderSuite, kPrSDKSequenceRenderSuiteVersion},
    {kPrSDKSequenceAudioSuite, kPrSDKSequenceAudioSuiteVersion},
    {kPrSDKMemoryManagerSuite, kPrSDKMemoryManagerSuiteVersion},
};
