// imInit, imGetIndFormat, imGetIndPixelFormat, imGetSupports8, imGetPrefs8:
// what the importer declares about itself.
#include <cstddef>
#include <cstring>

#include "importer/ImporterLocalRec.h"
#include "importer/ImporterSelectors.h"
#include "importer/StringUtils.h"

namespace {

constexpr uint32_t kFileTypeZUVM = 0x5A55564D; // 'ZUVM', first character high

} // namespace

int32_t ImInit(imStdParms* stdParms, imImportInfoRec* info) {
    if (!info)
        return imOtherErr;
    info->canSave = 1;
    info->hasSetup = 0;
    info->dontCache = 0;
    info->setupOnDblClk = 0;
    info->keepLoaded = 0;
    info->priority = 1000;
    info->canCalcSizes = 0;
    info->canTrim = 1;
    if (stdParms && stdParms->imInterfaceVer >= 6)
        info->avoidAudioConform = 1;
    return imIsCacheable;
}

int32_t ImGetIndFormat(intptr_t index, imIndFormatRec* format) {
    if (index != 0)
        return imBadFormatIndex;
    if (!format)
        return imOtherErr;
    format->filetype = kFileTypeZUVM;
    format->canWriteTimecode = 0;
    safeStrCpy(format->FormatName, sizeof(format->FormatName), "KEO Importer Format");
    safeStrCpy(format->FormatShortName, sizeof(format->FormatShortName), "KEO [Ostrel ZU]");
    // A list of extensions, each terminated; "mov" is the only one.
    std::memset(format->PlatformExtension, 0, sizeof(format->PlatformExtension));
    safeStrCpy(format->PlatformExtension, sizeof(format->PlatformExtension), "mov");
    return malNoError;
}

int32_t ImGetIndPixelFormat(intptr_t index, imIndPixelFormatRec* pixelFormat) {
    if (index != 0)
        return imBadFormatIndex;
    if (!pixelFormat)
        return imOtherErr;
    pixelFormat->outPixelFormat = PrPixelFormat_ARGB_4444_8u;
    return malNoError;
}

int32_t ImGetSupports8() {
    return imIsVersion8;
}

int32_t ImGetPrefs8(imFileAccessRec8* access, imGetPrefsRec* prefs) {
    if (!prefs)
        return imOtherErr;
    if (prefs->prefsLength == 0) {
        prefs->prefsLength = kImporterRecordSize;
        return malNoError;
    }
    if (!access || !access->filepath)
        return malNoError;
    // The block has the record's shape; a block smaller than the record
    // has no room for its name.
    if (!prefs->prefs || prefs->prefsLength < kImporterRecordSize)
        return imOtherErr;
    char* name = prefs->prefs + offsetof(ImporterLocalRec8, name);
    size_t units = UTF16Length(access->filepath, kRecordNameUnits - 1);
    std::memcpy(name, access->filepath, units * sizeof(prUTF16Char));
    std::memset(name + units * sizeof(prUTF16Char), 0, sizeof(prUTF16Char));
    return malNoError;
}
