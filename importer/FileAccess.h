// Reading helpers over the open movie's file handle.
#pragma once

#include <cstdint>
#include <cstdio>

#include "container/LargeFp.h"

// The file's length in bytes, the stream position left where it was; -1
// when the stream cannot be positioned.
inline int64_t FileLength(LargeFp* fp) {
    int64_t here = ftell_L(fp);
    if (fseek_L(fp, 0, SEEK_END) != 0)
        return -1;
    int64_t length = ftell_L(fp);
    if (fseek_L(fp, here, SEEK_SET) != 0)
        return -1;
    return length;
}
