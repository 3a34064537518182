// Hostile movies built on the baseline movie, each with the answers the
// importer entry must give: atom sizes that lie, nesting and floods, sample
// tables whose counts cannot fit or whose entries point nowhere, descriptions
// that overrun their atoms, and track sizes no frame could ever have.
//
// One list serves everyone who needs these bytes: the container tests open
// them with the reader, the fault tests drive them through the plug-in, the
// keodec tests through GStreamer, and the fuzz corpus generator writes them
// as seeds so the fuzzers start from every defect the tests name.
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

// Where in the movie the defect sits.
enum class Kind {
    Structure,    // atom sizes, nesting, floods, repeated atoms
    Tables,       // the sample tables and the time scales they are read in
    Descriptions, // sample descriptions, handler names, data references
    Dimensions,   // the track's picture size
};

struct HostileCase {
    std::string id; // short name for traces and seed files: "stsz-size-4"
    Kind kind;
    std::string defect; // what the movie holds, and why a reader must survive it
    keotest::Bytes bytes;
    Opens opens;
    // Answer of frames 0, 1, ... when the movie opens (0 or 99); empty: any.
    std::vector<int32_t> frames;
};

// Built once; the largest cases hold about a megabyte.
const std::vector<HostileCase>& hostileCases();

// The case called `id`. Throws std::out_of_range for a name that was never
// built, so a misspelt name fails its test instead of testing nothing.
const HostileCase& hostileCase(const std::string& id);

// The baseline movie with `levels` cmov atoms nested at the start of moov.
keotest::Movie nestedCmov(int levels);

} // namespace keofaults
