// The one header through which plug-in code sees the host API.
//
// By default it brings in our own declarations of the subset we use. A build
// for the real host sets KEO_VENDOR_SDK_DIR; that folder must then hold
// KEOVendorHostAPI.h, a shim that includes the vendor's headers and supplies
// whatever names of ours they lack (the result codes imFrameOrAudioErr,
// imIsVersion8, imBadFormatIndex, imIsCacheable, imInvalidFileRef and the suite
// name macros). That path has not been built on this machine.
#pragma once

#ifdef KEO_VENDOR_SDK
#include "KEOVendorHostAPI.h"
#else
#include "ExporterAPI.h"
#include "ExporterSuites.h"
#include "HostTypes.h"
#include "ImporterAPI.h"
#include "ImporterSuites.h"
#endif
