// Messages of the export results, kept beside nothing else so `keo` and the
// tests share one list.
#include "exporter/ExportRender.h"

const char* KEOExportResultText(int result) {
    switch (result) {
    case kKEOExportOK:
        return "ok";
    case kKEOExportBadArgument:
        return "the export record, movie, a suite or an export setting is missing or unusable";
    case kKEOExportNoFrame:
        return "the host reported a rendered frame but delivered none";
    case kKEOExportBadFrame:
        return "the host's frame does not have the requested size, pixel format or row bytes";
    case kKEOExportOutOfMemory:
        return "out of memory";
    case kKEOExportEncodeFailed:
        return "the frame could not be encoded";
    case kKEOExportWriteFailed:
        return "the movie file could not be written";
    case kKEOExportBadAudioFormat:
        return "the audio sample type or channel layout is not supported by the movie";
    case kKEOExportHostFailed:
        return "a host service failed or gave an unusable answer";
    case suiteError_RenderAbort:
        return "the host stopped the render";
    default:
        return "the host reported a failure";
    }
}
