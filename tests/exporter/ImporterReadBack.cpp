// The importer module driven through its one entry, for reading exports back.
#include "ImporterReadBack.h"

namespace export_test {

ImporterReadBack::ImporterReadBack(keo::host::StandInHost* host, const std::string& path) {
    ImportEntryFunc entry = keo::host::keptEntry(KEO_PLUGIN_PATH);
    if (!entry) {
        result_ = -1;
        return;
    }
    result_ = keo::host::startImporter(&session_, entry, host);
    if (result_ == 0)
        result_ = keo::host::openFile(&session_, path);
    if (result_ == 0)
        result_ = keo::host::describeFile(&session_);
}

ImporterReadBack::~ImporterReadBack() {
    keo::host::closeFile(&session_);
}

int32_t ImporterReadBack::frame(PrTime time, std::vector<unsigned char>* argb) {
    if (result_ != 0)
        return result_;
    argb->assign(static_cast<size_t>(session_.info.vidInfo.imageWidth) *
                     session_.info.vidInfo.imageHeight * 4,
                 0);
    return keo::host::readFrame(&session_, time, argb->data());
}

int32_t ImporterReadBack::audio(int64_t position, uint32_t size,
                                std::vector<std::vector<float>>* channels) {
    if (result_ != 0)
        return result_;
    channels->assign(static_cast<size_t>(session_.info.audInfo.numChannels),
                     std::vector<float>(size));
    std::vector<float*> arrays;
    for (auto& c : *channels)
        arrays.push_back(c.data());
    return keo::host::readAudio(&session_, position, size, arrays.data());
}

} // namespace export_test
