// The handlers behind xImportEntry, one per selector, named after it.
//
// Each takes the records its selector fixes and returns the entry's result.
// Every handler copes with null records and handles by answering its failure
// code; none throws.
#pragma once

#include "KEOHostAPI.h"

// FormatSelectors.cpp
int32_t ImInit(imStdParms* stdParms, imImportInfoRec* info);
int32_t ImGetIndFormat(intptr_t index, imIndFormatRec* format);
int32_t ImGetIndPixelFormat(intptr_t index, imIndPixelFormatRec* pixelFormat);
int32_t ImGetSupports8();
int32_t ImGetPrefs8(imFileAccessRec8* access, imGetPrefsRec* prefs);

// FileSelectors.cpp
int32_t ImOpenFile8(imStdParms* stdParms, imFileRef* fileRef, imFileOpenRec8* open);
int32_t ImQuietFile(imFileRef* fileRef, void* recordHandle);
int32_t ImCloseFile(imStdParms* stdParms, imFileRef* fileRef, void* recordHandle);

// FileInfo.cpp
int32_t ImGetInfo8(imStdParms* stdParms, imFileAccessRec8* access, imFileInfoRec8* info);
int32_t ImGetPreferredFrameSize(imPreferredFrameSizeRec* request);

// SourceVideo.cpp
int32_t ImGetSourceVideo(imStdParms* stdParms, imSourceVideoRec* request);

// ImportAudio.cpp
int32_t ImImportAudio7(imImportAudioRec7* request);

// SaveDelete.cpp
int32_t ImSaveFile8(imSaveFileRec8* save);
int32_t ImDeleteFile8(imDeleteFileRec* request);
