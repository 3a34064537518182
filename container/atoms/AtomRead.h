// What every atom reader shares: the walk over a container's children and
// the allocation of tables whose size the file gave.
//
// Refusals travel two ways. A record whose atom does not hold what its
// fields promise fails its reader; the walk then fails the parent's reader,
// and so on up to the movie atom, whose failure refuses the file. A video
// description that is not ours clears the movie's `ok`, and an allocation
// that fails refuses the movie directly; both stop every walk at once.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "container/AtomReader.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "container/QuicktimeMatrix.h"

// Calls onChild with a reader over each child of `parent`, in file order.
// The parent's cursor is past the child before onChild runs, so every step
// moves forward and never leaves the parent, whatever the child reads.
template <typename OnChild>
void walkChildren(AtomReader& parent, MovFile& movie, OnChild&& onChild) {
    AtomReader child;
    while (!movie.stopped() && parent.nextChild(&child)) {
        onChild(child);
        if (!child.ok())
            parent.fail();
    }
}

// Version (1 byte) and flags (3), the start of every full atom.
bool readVersionAndFlags(AtomReader& atom, int32_t* version, int64_t* flags);

// Consecutive unsigned 32-bit fields, in the order given; a field past the
// atom's end is left as it was, like any failed read.
bool readUInt32s(AtomReader& atom, std::initializer_list<int64_t*> fields);

// Version (1 byte), flags (3) and a 32-bit count whose entries of
// `entrySize` bytes must fit in the rest of the atom. False, with the reader
// failed, when they do not.
bool readTableHeader(AtomReader& atom, uint64_t entrySize, int32_t* version, int64_t* flags,
                     int64_t* count);

// Nine 16.16 values into the matrix, in file order.
bool readMatrix(AtomReader& atom, QuicktimeMatrix& matrix);

// A zero-filled table of `count` entries (null for 0). Callers have already
// checked that the atom backs the count; a failed allocation refuses the movie.
template <typename T> T* allocTable(int64_t count, MovFile& movie) {
    if (count <= 0)
        return nullptr;
    T* table = static_cast<T*>(std::calloc(static_cast<size_t>(count), sizeof(T)));
    if (!table)
        movie.refuse();
    return table;
}
