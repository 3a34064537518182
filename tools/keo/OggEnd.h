// Whether an Ogg file has its end, before keo export decodes it.
//
// An Ogg file declares no length: a demuxer takes the length from the last
// page it finds, so a download cut short at any byte reads as a shorter,
// whole-looking movie. What a cut takes away is the end itself: every
// logical stream of a complete file ends with a page marked end-of-stream,
// and the last page is whole. So a file whose last page runs past the end
// of the file, or one of whose streams has begun but not ended, was cut.
//
// The walk reads each page's header and steps over its body; it trusts no
// size from the file beyond the bytes that are there, and takes a page only
// where its capture pattern is.
#pragma once

#include <cstdint>
#include <string>

namespace keo::tool {

struct OggEnding {
    bool isOgg = false; // the file begins with an Ogg page
    bool whole = true;  // every stream ended and the last page is whole
    std::string why;    // what is missing, when not whole
};

// Reads the pages of the file open on `fd` (from offset 0, with pread).
OggEnding checkOggEnding(int fd);

} // namespace keo::tool
