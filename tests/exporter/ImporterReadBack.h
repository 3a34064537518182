// Reads a written movie back through the built importer module, as the host
// would: dlopen, xImportEntry with the stand-in host, imOpenFile8,
// imGetInfo8, imGetSourceVideo and imImportAudio7, then imCloseFile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "StandInHost.h"

namespace export_test {

class ImporterReadBack {
public:
    // Opens and describes `path`; `result` is the first non-zero answer.
    ImporterReadBack(keo::host::StandInHost* host, const std::string& path);
    ~ImporterReadBack();

    int32_t result() const { return result_; }
    const imFileInfoRec8& info() const { return info_; }

    // The frame at `time` as a packed, top-down ARGB32 picture.
    int32_t frame(PrTime time, std::vector<unsigned char>* argb);
    // `size` sample frames from `position`, one float array per channel.
    int32_t audio(int64_t position, uint32_t size, std::vector<std::vector<float>>* channels);

private:
    int32_t call(int32_t selector, void* param1, void* param2);

    keo::host::StandInHost* host_;
    ImportEntryFunc entry_ = nullptr;
    imStdParms* stdParms_ = nullptr;
    std::vector<prUTF16Char> path16_;
    void* privateData_ = nullptr;
    imFileRef fileRef_ = imInvalidFileRef;
    imFileInfoRec8 info_{};
    int32_t result_ = 0;
};

} // namespace export_test
