// What every atom writer shares. An atom goes out as a size placeholder and
// its type, then its body, then the size patched in once the body's end is
// known (QuicktimeAtom::writeHeader and writeFooter): no writer has to count
// its own bytes, so a body that grows cannot leave a wrong size behind. Most
// atoms are full atoms, whose body opens with a version byte and 24-bit flags.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "container/MovFile.h"
#include "container/QuicktimeAtom.h"

// Starts a full atom: size placeholder, type, version 1 byte, flags 3 bytes.
// Finish it with atom.writeFooter.
inline void writeFullAtomHeader(QuicktimeAtom& atom, QuicktimeFile* file, const char* type,
                                int32_t version, int64_t flags, MovFile& movie) {
    atom.writeHeader(file, type, movie);
    movie.writeChar(version);
    movie.writeInt24(flags);
}

// A table atom's 32-bit entry count, then each entry as writeEntry writes it.
// Without a table the count still goes out and no entry follows.
template <typename Entry, typename WriteEntry>
void writeTable(MovFile& movie, int64_t count, Entry* table, WriteEntry&& writeEntry) {
    movie.writeInt32(count);
    for (int64_t i = 0; table && i < count; i++)
        writeEntry(table[i]);
}

// Consecutive big-endian fields of one width, in the order given.
inline void writeInt32s(MovFile& movie, std::initializer_list<int64_t> values) {
    for (int64_t v : values)
        movie.writeInt32(v);
}

inline void writeInt16s(MovFile& movie, std::initializer_list<int64_t> values) {
    for (int64_t v : values)
        movie.writeInt16(v);
}
