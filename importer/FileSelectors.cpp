// imOpenFile8, imQuietFile and imCloseFile: the life of an imported file.
#include <climits>
#include <cstring>
#include <new>
#include <type_traits>

#include "KEOSuiteNames.h"
#include "codec/FramePayload.h"
#include "container/MovFile.h"
#include "importer/ImporterLocalRec.h"
#include "importer/ImporterSelectors.h"
#include "importer/SourceVideo.h"
#include "importer/StringUtils.h"

namespace {

constexpr uint32_t kFileTypeZUVM = 0x5A55564D; // 'ZUVM', first character high

// Acquired in this order by imGetInfo8 and released in it by imCloseFile.
constexpr const KEOSuiteName* kSuites = kKEOImporterSuites;
constexpr size_t kSuiteCount = sizeof(kKEOImporterSuites) / sizeof(kKEOImporterSuites[0]);

PlugMemoryFuncs* MemoryFunctions(imStdParms* stdParms) {
    return stdParms && stdParms->piSuites ? stdParms->piSuites->memFuncs : nullptr;
}

void CloseMovie(ImporterLocalRec8* rec) {
    if (rec->movFile) {
        rec->movFile->close();
        delete rec->movFile;
    }
    rec->movFile = nullptr;
    rec->fileRef = nullptr;
}

} // namespace

PrMemoryHandle NewRecordHandle(imStdParms* stdParms) {
    PlugMemoryFuncs* mem = MemoryFunctions(stdParms);
    if (!mem || !mem->newHandle)
        return nullptr;
    PrMemoryHandle handle = mem->newHandle(kImporterRecordSize);
    if (!handle)
        return nullptr;
    if (!*handle) {
        if (mem->disposeHandle)
            mem->disposeHandle(handle);
        return nullptr;
    }
    // Host memory comes uninitialised; a zeroed record has no movie and no
    // suites, which every handler tests for.
    std::memset(*handle, 0, kImporterRecordSize);
    return handle;
}

void ReleaseRecordSuites(ImporterLocalRec8* rec) {
    SPBasicSuite* basic = rec->BasicSuite;
    const void* held[] = {rec->PPixCreatorSuite, rec->PPixCacheSuite, rec->PPixSuite,
                          rec->TimeSuite, rec->AudioSuite};
    for (size_t i = 0; i < kSuiteCount; i++) {
        if (basic && basic->ReleaseSuite && held[i])
            basic->ReleaseSuite(kSuites[i].name, kSuites[i].version);
    }
    rec->PPixCreatorSuite = nullptr;
    rec->PPixCacheSuite = nullptr;
    rec->PPixSuite = nullptr;
    rec->TimeSuite = nullptr;
    rec->AudioSuite = nullptr;
}

void AcquireRecordSuites(ImporterLocalRec8* rec) {
    SPBasicSuite* basic = rec->BasicSuite;
    auto acquire = [basic](const KEOSuiteName& which, auto** slot) {
        const void* suite = nullptr;
        if (!basic || !basic->AcquireSuite ||
            basic->AcquireSuite(which.name, which.version, &suite) != kSPNoError)
            suite = nullptr;
        using Suite = std::remove_pointer_t<std::remove_reference_t<decltype(*slot)>>;
        *slot = static_cast<Suite*>(const_cast<void*>(suite));
    };
    acquire(kSuites[0], &rec->PPixCreatorSuite);
    acquire(kSuites[1], &rec->PPixCacheSuite);
    acquire(kSuites[2], &rec->PPixSuite);
    acquire(kSuites[3], &rec->TimeSuite);
    acquire(kSuites[4], &rec->AudioSuite);
}

int32_t ImOpenFile8(imStdParms* stdParms, imFileRef* fileRef, imFileOpenRec8* open) {
    if (!open)
        return imBadFile;
    if (!open->privatedata) {
        open->privatedata = NewRecordHandle(stdParms);
        if (!open->privatedata)
            return imBadFile;
    }
    ImporterLocalRec8* rec = RecordOf(open->privatedata);
    if (!rec)
        return imBadFile;
    // A second open without a quiet in between would lose the first movie.
    CloseMovie(rec);

    // The whole path, in UTF-8 whatever the locale: a path cut short could
    // name another file.
    char path[PATH_MAX];
    if (!ConvertUTF16PathToUTF8(open->fileinfo.filepath, path, sizeof(path)))
        return imBadFile;

    MovFile* movie = new (std::nothrow) MovFile();
    if (!movie)
        return imBadFile;
    rec->movFile = movie;
    // No sample shorter than a frame's header can be a frame.
    LargeFp* fp = movie->openRead(path, kKEOFrameHeaderSize);
    // A picture that no frame can be delivered in is refused now, before
    // the host plans for it; a movie without frames is refused when it is
    // described.
    int width = 0;
    int height = 0;
    movie->frameSize(width, height);
    if (!fp || (movie->nFrames() >= 1 && !PictureCanBeDelivered(width, height))) {
        CloseMovie(rec);
        return imBadFile;
    }
    rec->fileRef = fp;
    if (fileRef)
        *fileRef = fp;
    open->fileinfo.fileref = fp;
    open->fileinfo.filetype = kFileTypeZUVM;
    return malNoError;
}

int32_t ImQuietFile(imFileRef* fileRef, void* recordHandle) {
    ImporterLocalRec8* rec = RecordOf(recordHandle);
    if (rec)
        CloseMovie(rec);
    if (fileRef)
        *fileRef = imInvalidFileRef;
    return malNoError;
}

int32_t ImCloseFile(imStdParms* stdParms, imFileRef* fileRef, void* recordHandle) {
    if (fileRef && *fileRef != imInvalidFileRef)
        ImQuietFile(fileRef, recordHandle);
    ImporterLocalRec8* rec = RecordOf(recordHandle);
    if (!rec)
        return malNoError;
    // The movie goes with the record whatever the file reference said, so
    // that nothing the record owns outlives it.
    CloseMovie(rec);
    ReleaseRecordSuites(rec);
    // A record that was never described has no memory functions of its own
    // yet; the host's are the same ones.
    PlugMemoryFuncs* mem = rec->memFuncs ? rec->memFuncs : MemoryFunctions(stdParms);
    if (mem && mem->disposeHandle)
        mem->disposeHandle(static_cast<PrMemoryHandle>(recordHandle));
    return malNoError;
}
