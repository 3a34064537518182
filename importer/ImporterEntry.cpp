// xImportEntry: the plug-in's one exported function and its selector dispatch.
#include <cstdint>
#include <new>

#include "importer/ImporterSelectors.h"

namespace {

// What a selector answers when it cannot do its work at all.
int32_t FailureOf(int32_t selector) {
    switch (selector) {
    case imOpenFile8:
    case imGetInfo8:
        return imBadFile;
    case imGetSourceVideo:
    case imImportAudio7:
        return imFrameOrAudioErr;
    case imSaveFile8:
        return imSaveErr;
    case imDeleteFile8:
        return imDeleteErr;
    default:
        return imOtherErr;
    }
}

int32_t Dispatch(int32_t selector, imStdParms* stdParms, void* param1, void* param2) {
    switch (selector) {
    case imInit:
        return ImInit(stdParms, static_cast<imImportInfoRec*>(param1));
    case imQuietFile:
        return ImQuietFile(static_cast<imFileRef*>(param1), param2);
    case imCloseFile:
        return ImCloseFile(stdParms, static_cast<imFileRef*>(param1), param2);
    case imGetIndFormat:
        return ImGetIndFormat(reinterpret_cast<intptr_t>(param1),
                              static_cast<imIndFormatRec*>(param2));
    case imImportAudio7:
        return ImImportAudio7(static_cast<imImportAudioRec7*>(param2));
    case imGetIndPixelFormat:
        return ImGetIndPixelFormat(reinterpret_cast<intptr_t>(param1),
                                   static_cast<imIndPixelFormatRec*>(param2));
    case imGetSupports8:
        return ImGetSupports8();
    case imGetInfo8:
        return ImGetInfo8(stdParms, static_cast<imFileAccessRec8*>(param1),
                          static_cast<imFileInfoRec8*>(param2));
    case imGetPrefs8:
        return ImGetPrefs8(static_cast<imFileAccessRec8*>(param1),
                           static_cast<imGetPrefsRec*>(param2));
    case imOpenFile8:
        return ImOpenFile8(stdParms, static_cast<imFileRef*>(param1),
                           static_cast<imFileOpenRec8*>(param2));
    case imSaveFile8:
        return ImSaveFile8(static_cast<imSaveFileRec8*>(param1));
    case imDeleteFile8:
        return ImDeleteFile8(static_cast<imDeleteFileRec*>(param1));
    case imGetPreferredFrameSize:
        return ImGetPreferredFrameSize(static_cast<imPreferredFrameSizeRec*>(param1));
    case imGetSourceVideo:
        return ImGetSourceVideo(stdParms, static_cast<imSourceVideoRec*>(param2));
    // Selectors the host may send that need no work here.
    case 12:
    case 13:
    case 23:
    case 24:
    case 42:
    case 43:
    case 44:
    case 52:
    case 53:
        return malNoError;
    default:
        return imUnsupported;
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) int32_t
xImportEntry(int32_t selector, imStdParms* stdParms, void* param1, void* param2) {
    // An exception must never unwind into the host, which may not even be
    // able to catch it; the handlers throw nothing of their own, but the
    // standard library may run out of memory.
    try {
        return Dispatch(selector, stdParms, param1, param2);
    } catch (...) {
        return FailureOf(selector);
    }
}
