// Reads a written movie back through the built importer module, as the host
// would: the plug-in driver's imInit, imOpenFile8 and imGetInfo8 with the
// test's stand-in host, then frames and audio on request, imCloseFile last.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PluginDriver.h"
#include "StandInHost.h"

namespace export_test {

class ImporterReadBack {
public:
    // Opens and describes `path`; `result` is the first non-zero answer.
    ImporterReadBack(keo::host::StandInHost* host, const std::string& path);
    ~ImporterReadBack();

    int32_t result() const { return result_; }
    const imFileInfoRec8& info() const { return session_.info; }

    // The frame at `time` as a packed, top-down ARGB32 picture.
    int32_t frame(PrTime time, std::vector<unsigned char>* argb);
    // `size` sample frames from `position`, one float array per channel.
    int32_t audio(int64_t position, uint32_t size, std::vector<std::vector<float>>* channels);

private:
    keo::host::ImporterSession session_;
    int32_t result_ = 0;
};

} // namespace export_test
