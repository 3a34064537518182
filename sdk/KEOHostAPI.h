// The one header through which our code sees the host API: the plug-in, the
// exporter, the stand-in host and keo include it alike, so all of them agree
// on one set of declarations.
//
// By default it brings in our own declarations of the subset we use. A build
// for the real host sets KEO_VENDOR_SDK_DIR; that folder must then hold
// KEOVendorHostAPI.h, a shim that includes the vendor's headers and supplies
// whatever names of ours they lack (the result codes imFrameOrAudioErr,
// imIsVersion8, imBadFormatIndex, imIsCacheable, imInvalidFileRef and the suite
// name macros). No build here takes that path: a shim is proven only where
// the vendor's headers are.
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
