// The importer module driven through its one entry, for reading exports back.
#include "ImporterReadBack.h"

#include <cstring>
#include <dlfcn.h>

namespace export_test {
namespace {

ImportEntryFunc loadEntry() {
    // Loaded once and kept: the module's worker records live until exit.
    static void* module = dlopen(KEO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    return module ? reinterpret_cast<ImportEntryFunc>(dlsym(module, "xImportEntry")) : nullptr;
}

} // namespace

ImporterReadBack::ImporterReadBack(keo::host::StandInHost* host, const std::string& path)
    : host_(host) {
    entry_ = loadEntry();
    if (!entry_) {
        result_ = -1;
        return;
    }
    stdParms_ = keo::host::importerStdParms(host_);
    // The test paths are ASCII.
    for (char c : path)
        path16_.push_back(static_cast<prUTF16Char>(static_cast<unsigned char>(c)));
    path16_.push_back(0);

    imImportInfoRec init{};
    result_ = call(imInit, &init, nullptr);
    if (result_ == imIsCacheable)
        result_ = 0;
    imFileOpenRec8 open{};
    open.fileinfo.filepath = path16_.data();
    open.fileinfo.fileref = imInvalidFileRef;
    if (result_ == 0)
        result_ = call(imOpenFile8, &fileRef_, &open);
    privateData_ = open.privatedata;
    if (result_ != 0)
        return;
    imFileAccessRec8 access{};
    access.filepath = path16_.data();
    access.fileref = fileRef_;
    info_.privatedata = privateData_;
    info_.vidInfo.importerID = 7;
    result_ = call(imGetInfo8, &access, &info_);
}

ImporterReadBack::~ImporterReadBack() {
    if (entry_ && privateData_)
        call(imCloseFile, &fileRef_, privateData_);
}

int32_t ImporterReadBack::call(int32_t selector, void* param1, void* param2) {
    return entry_(selector, stdParms_, param1, param2);
}

int32_t ImporterReadBack::frame(PrTime time, std::vector<unsigned char>* argb) {
    if (result_ != 0)
        return result_;
    const int32_t width = info_.vidInfo.imageWidth, height = info_.vidInfo.imageHeight;
    imFrameFormat format{width, height, PrPixelFormat_ARGB_4444_8u};
    PPixHand frame = nullptr;
    imSourceVideoRec request{};
    request.inPrivateData = privateData_;
    request.inFrameTime = time;
    request.inFrameFormat = &format;
    request.outFrame = &frame;
    const int32_t err = call(imGetSourceVideo, nullptr, &request);
    if (err != 0 || !frame)
        return err != 0 ? err : -1;
    const keo::host::FrameInfo fi = keo::host::describeFrame(host_, frame);
    argb->assign(static_cast<size_t>(width) * height * 4, 0);
    // Host frames are bottom row first.
    for (int32_t r = 0; r < height; ++r)
        std::memcpy(argb->data() + static_cast<size_t>(r) * width * 4,
                    fi.pixels + static_cast<size_t>(height - 1 - r) * fi.rowBytes,
                    static_cast<size_t>(width) * 4);
    keo::host::hostSuites(host_).ppix->Dispose(frame);
    return 0;
}

int32_t ImporterReadBack::audio(int64_t position, uint32_t size,
                                std::vector<std::vector<float>>* channels) {
    if (result_ != 0)
        return result_;
    channels->assign(static_cast<size_t>(info_.audInfo.numChannels), std::vector<float>(size));
    std::vector<float*> arrays;
    for (auto& c : *channels)
        arrays.push_back(c.data());
    imImportAudioRec7 request{};
    request.privateData = privateData_;
    request.position = position;
    request.size = size;
    request.buffer = arrays.data();
    return call(imImportAudio7, nullptr, &request);
}

} // namespace export_test
