// Loading the importer module and walking its selectors as a host does.
#include "PluginDriver.h"

#include "base/PathText.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <sys/stat.h>

#include "base/FrameRate.h"

namespace keo::host {

int32_t loadModule(PluginModule* module, const std::string& path) {
    *module = PluginModule();
    // The loader's own words for a missing file name the file only in
    // passing; the user needs to hear first that nothing is there.
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        module->error = std::strerror(errno);
        return kDriverModuleMissing;
    }
    module->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module->handle) {
        const char* why = dlerror();
        module->error = why ? why : "the loader gave no reason";
        return kDriverModuleNotLoaded;
    }
    module->entry = reinterpret_cast<ImportEntryFunc>(dlsym(module->handle, "xImportEntry"));
    if (!module->entry) {
        module->error = "the module exports no xImportEntry";
        // A module we cannot call stays loaded no longer than it must.
        dlclose(module->handle);
        module->handle = nullptr;
        return kDriverNoEntry;
    }
    return kDriverOK;
}

int32_t unloadModule(PluginModule* module) {
    int32_t result = 0;
    if (module->handle && dlclose(module->handle) != 0) {
        const char* why = dlerror();
        module->error = why ? why : "the loader gave no reason";
        result = kDriverModuleNotLoaded;
    }
    module->handle = nullptr;
    module->entry = nullptr;
    return result;
}

ImportEntryFunc keptEntry(const std::string& path, std::string* error) {
    // Test programs ask from several threads; the modules are never freed.
    static std::mutex lock;
    static std::map<std::string, PluginModule> kept;
    std::lock_guard<std::mutex> hold(lock);
    PluginModule& module = kept[path];
    if (!module.entry && loadModule(&module, path) != kDriverOK && error)
        *error = module.error;
    return module.entry;
}

std::vector<prUTF16Char> utf16Path(const std::string& path) {
    std::vector<prUTF16Char> out;
    out.reserve(path.size() + 1);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(path.data());
    for (size_t i = 0; i < path.size();) {
        uint16_t units[2];
        size_t count = 0;
        i += keo::pathStepToUTF16(bytes + i, path.size() - i, units, &count);
        out.insert(out.end(), units, units + count);
    }
    out.push_back(0);
    return out;
}

namespace {

constexpr uint32_t kZUVM = ('Z' << 24) | ('U' << 16) | ('V' << 8) | 'M';

int32_t importerIDOf(ImporterSession* s) {
    if (s->importerID == 0 && s->host)
        s->importerID = newImporterID(s->host);
    return s->importerID;
}

} // namespace

int32_t callImporter(ImporterSession* s, int32_t selector, void* param1, void* param2) {
    if (!s->entry || !s->stdParms)
        return kDriverNotStarted;
    return s->entry(selector, s->stdParms, param1, param2);
}

void bindImporter(ImporterSession* s, ImportEntryFunc entry, StandInHost* host) {
    s->entry = entry;
    s->host = host;
    s->stdParms = host ? importerStdParms(host) : nullptr;
}

int32_t startImporter(ImporterSession* s, ImportEntryFunc entry, StandInHost* host) {
    bindImporter(s, entry, host);
    imImportInfoRec init{};
    const int32_t r = callImporter(s, imInit, &init, nullptr);
    return r == imIsCacheable ? kDriverOK : r;
}

int32_t formatAt(ImporterSession* s, int index, imIndFormatRec* format) {
    *format = imIndFormatRec{};
    return callImporter(s, imGetIndFormat, reinterpret_cast<void*>(static_cast<intptr_t>(index)),
                        format);
}

int32_t pixelFormatAt(ImporterSession* s, int index, imIndPixelFormatRec* format) {
    *format = imIndPixelFormatRec{};
    return callImporter(s, imGetIndPixelFormat,
                        reinterpret_cast<void*>(static_cast<intptr_t>(index)), format);
}

int32_t openFile(ImporterSession* s, const std::string& path) {
    // The whole path goes to the plug-in, however long: it opens what the
    // host names, and keeps a cut copy only as the record's name.
    s->path16 = utf16Path(path);
    imFileOpenRec8 open{};
    open.fileinfo.importerID = importerIDOf(s);
    open.fileinfo.filetype = kZUVM;
    open.fileinfo.filepath = s->path16.data();
    open.fileinfo.fileref = imInvalidFileRef;
    open.privatedata = s->privateData;
    const int32_t r = callImporter(s, imOpenFile8, &s->fileRef, &open);
    // Kept even on a refusal: the record is the host's to close.
    s->privateData = open.privatedata;
    return r;
}

int32_t describeFile(ImporterSession* s) {
    imFileAccessRec8 access{};
    access.importerID = importerIDOf(s);
    access.filetype = kZUVM;
    access.filepath = s->path16.empty() ? nullptr : s->path16.data();
    access.fileref = s->fileRef;
    s->info = imFileInfoRec8{};
    s->info.vidInfo.importerID = access.importerID;
    s->info.privatedata = s->privateData;
    const int32_t r = callImporter(s, imGetInfo8, &access, &s->info);
    // A description without an open makes the record.
    if (s->info.privatedata)
        s->privateData = s->info.privatedata;
    return r;
}

namespace {

keo::FrameRate rateOf(const imFileInfoRec8& info) {
    return {info.vidScale, info.vidSampleSize};
}

} // namespace

PrTime ticksPerFrame(const imFileInfoRec8& info) {
    return keo::ticksPerFrame(rateOf(info), kTicksPerSecond);
}

PrTime frameTime(const imFileInfoRec8& info, int64_t index) {
    return keo::frameStartTicks(rateOf(info), kTicksPerSecond, index);
}

int32_t requestFrame(ImporterSession* s, PrTime time, imFrameFormat* format, PPixHand* frame) {
    *frame = nullptr;
    imSourceVideoRec rec{};
    rec.inPrivateData = s->privateData;
    rec.inFrameTime = time;
    rec.inFrameFormat = format;
    rec.outFrame = frame;
    return callImporter(s, imGetSourceVideo, nullptr, &rec);
}

int32_t borrowFrame(ImporterSession* s, PrTime time, BorrowedFrame* out) {
    *out = BorrowedFrame{};
    const int32_t width = s->info.vidInfo.imageWidth, height = s->info.vidInfo.imageHeight;
    PPixHand frame = nullptr;
    imFrameFormat format{width, height, PrPixelFormat_ARGB_4444_8u};
    const int32_t r = requestFrame(s, time, &format, &frame);
    if (!frame)
        return r != malNoError ? r : kDriverNoFrame;
    PrSDKPPixSuite* ppix = hostSuites(s->host).ppix;
    prRect bounds{};
    int32_t rowBytes = 0;
    char* pixels = nullptr;
    ppix->GetBounds(frame, &bounds);
    ppix->GetRowBytes(frame, &rowBytes);
    ppix->GetPixels(frame, PrPPixBufferAccess_ReadOnly, &pixels);
    const bool fits = width > 0 && height > 0 && bounds.right - bounds.left == width &&
                      bounds.bottom - bounds.top == height && pixels &&
                      static_cast<int64_t>(rowBytes) >= static_cast<int64_t>(width) * 4;
    if (r != malNoError || !fits) {
        ppix->Dispose(frame);
        return r != malNoError ? r : kDriverNoFrame;
    }
    *out = BorrowedFrame{frame,
                         reinterpret_cast<const uint8_t*>(pixels) +
                             static_cast<ptrdiff_t>(height - 1) * rowBytes,
                         -static_cast<ptrdiff_t>(rowBytes)};
    return malNoError;
}

void returnFrame(ImporterSession* s, BorrowedFrame* frame) {
    if (frame->frame)
        hostSuites(s->host).ppix->Dispose(frame->frame);
    *frame = BorrowedFrame{};
}

int32_t readFrame(ImporterSession* s, PrTime time, uint8_t* argb) {
    BorrowedFrame frame;
    const int32_t r = borrowFrame(s, time, &frame);
    if (r != malNoError)
        return r;
    const size_t packed = static_cast<size_t>(s->info.vidInfo.imageWidth) * 4;
    for (int32_t row = 0; row < s->info.vidInfo.imageHeight; ++row)
        std::memcpy(argb + static_cast<size_t>(row) * packed, frame.top + row * frame.pitch,
                    packed);
    returnFrame(s, &frame);
    return malNoError;
}

int32_t readAudio(ImporterSession* s, int64_t position, uint32_t count, float** planar) {
    imImportAudioRec7 rec{s->privateData, position, count, planar};
    return callImporter(s, imImportAudio7, nullptr, &rec);
}

int32_t quietFile(ImporterSession* s) {
    return callImporter(s, imQuietFile, &s->fileRef, s->privateData);
}

int32_t closeFile(ImporterSession* s) {
    if (!s->privateData)
        return kDriverOK;
    const int32_t r = callImporter(s, imCloseFile, &s->fileRef, s->privateData);
    s->privateData = nullptr;
    s->fileRef = imInvalidFileRef;
    if (s->importerID != 0 && s->host)
        forgetImporter(s->host, s->importerID);
    s->importerID = 0;
    return r;
}

} // namespace keo::host
