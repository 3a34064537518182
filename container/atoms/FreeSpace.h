// free: space that readers pass over.
//
//   offset 0  u32  size   total size, header included (at least 8)
//   offset 4  4cc  "free"
//   offset 8  size - 8 bytes that mean nothing
//
// A writer that keeps room for the movie atom at the start of the file
// (container/MovFileHeaderRoom.cpp) fills the room with free atoms around
// the movie atom, and hides a movie atom it no longer wants by rewriting the
// 8-byte header in front of it.
#pragma once

#include <cstdint>

#include "container/QuicktimeAtom.h"

struct MovFile;
struct QuicktimeFile;

struct QuicktimeFREE {
    int64_t start; // where the header goes
    int64_t size;  // total size, header included

    void init(int64_t at, int64_t bytes);
    // Takes the place and size of a free atom whose header was just read.
    void read(const QuicktimeAtom& header);
    // The 8-byte header at `start` and, with `body`, zeros to its end; the
    // position is left after what was written. 0, or 1 when the size does
    // not fit 32 bits or a write wrote nothing.
    int write(QuicktimeFile* file, MovFile& movie, bool body);
    void deleteMe() {}
};
