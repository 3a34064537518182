// The hostile movies of the container rows (H, T, D, V), built on the
// baseline movie, each with the answers the importer entry must give.
//
// The fault tests drive every case through the plug-in; the fuzz corpus
// generator writes the same bytes as seeds, so the fuzzers start from every
// defect the tests name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/MovieBuilder.h"

namespace keofaults {

enum class Opens {
    Yes,     // imOpenFile8 and imGetInfo8 answer 0
    Refused, // imOpenFile8 answers 2
    NoVideo, // imOpenFile8 or imGetInfo8 answers 2
    Any,     // any answer; when it opens, `frames` still holds
};

struct HostileCase {
    std::string id; // row and variant, "T4b"
    std::string defect;
    keotest::Bytes bytes;
    Opens opens;
    // Answer of frames 0, 1, ... when the movie opens (0 or 99); empty: any.
    std::vector<int32_t> frames;
};

std::vector<HostileCase> hostileCases();

} // namespace keofaults
