// Importer results in words.
#include "libkeo/PluginResults.h"

#include "ImporterAPI.h"
#include "libkeo/Failure.h"

#include <cstdio>

namespace keo::lib {

const char* importResultText(int result) {
    switch (result) {
    case malNoError:
        return "no error";
    case imBadFile:
        return "not a KEO movie, or a damaged one";
    case imUnsupported:
        return "a request the plug-in does not support";
    case imOtherErr:
        return "the plug-in failed";
    case imSaveErr:
        return "the file could not be saved";
    case imDeleteErr:
        return "the file could not be deleted";
    case imFrameOrAudioErr:
        return "its data is damaged, cut short or cannot be read";
    case -1:
        return "the plug-in handed back no usable frame";
    default:
        return "the plug-in reported a failure";
    }
}

std::string resultWords(int result) {
    return std::string(importResultText(result)) + " (error " + std::to_string(result) + ")";
}

void reportFrameFailure(int frame, int result, bool stop) {
    const std::string subject = "frame " + std::to_string(frame);
    if (stop)
        fail(subject, resultWords(result), kExitDamaged);
    std::fflush(stdout);
    std::fprintf(stderr, "keo: %s: %s\n", subject.c_str(), resultWords(result).c_str());
}

} // namespace keo::lib
