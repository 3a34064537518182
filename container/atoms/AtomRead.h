// What every atom reader shares: the bounded walk over a container's
// children and the allocation of tables whose size the file gave.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "container/MovFile.h"
#include "container/QuicktimeAtom.h"
#include "container/QuicktimeFile.h"

// Reads the next child header of `parent` at the current position. False
// ends the walk: no whole header is left before the parent's end (trailing
// padding is ignored), or the child is shorter than its own header or
// reaches past its parent, which refuses the file.
bool readChildHeader(QuicktimeFile* file, const QuicktimeAtom& parent, QuicktimeAtom& child,
                     MovFile& movie);

// Calls onChild for every child of `parent`, in file order. After each child
// the walk goes on at the child's declared end, whatever the child read, so
// every step moves forward and never leaves the parent.
template <typename OnChild>
void walkChildren(QuicktimeFile* file, const QuicktimeAtom& parent, MovFile& movie,
                  OnChild&& onChild) {
    QuicktimeAtom child;
    while (!movie.stopped() && readChildHeader(file, parent, child, movie)) {
        onChild(child);
        if (movie.stopped())
            return;
        movie.setPosition(file, child.end);
    }
}

// Reads version (1 byte), flags (3) and a 32-bit entry count, then checks
// that `count` entries of `entrySize` bytes fit in the rest of the atom.
// False (the file refused) when the header or the entries do not fit.
bool readTableHeader(QuicktimeFile* file, const QuicktimeAtom& atom, MovFile& movie,
                     uint64_t entrySize, int32_t* version, int64_t* flags, int64_t* count);

// A zero-filled table of `count` entries (null for 0). Callers have already
// checked that the file backs the count; a failed allocation refuses it.
template <typename T> T* allocTable(int64_t count, MovFile& movie) {
    if (count <= 0)
        return nullptr;
    T* table = static_cast<T*>(std::calloc(static_cast<size_t>(count), sizeof(T)));
    if (!table)
        movie.refuse();
    return table;
}
