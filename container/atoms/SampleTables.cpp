// Reading the sample table atom and its tables. Every count is checked
// against the bytes of its atom before a table is allocated.
#include "container/atoms/SampleTables.h"

#include <cstdlib>
#include <limits>

#include "base/Bounds.h"
#include "container/atoms/AtomRead.h"
#include "container/atoms/Media.h"

void QuicktimeSTTS::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    deleteMe();
    int64_t count;
    if (!readTableHeader(file, atom, movie, 8, &version, &flags, &count))
        return;
    table = allocTable<QuicktimeSTTSTable>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = count;
    for (int64_t i = 0; i < count; i++) {
        table[i].sampleCount = movie.readInt32();
        table[i].sampleDuration = movie.readInt32();
    }
}

void QuicktimeSTTS::deleteMe() {
    std::free(table);
    table = nullptr;
    totalEntries = 0;
}

void QuicktimeSTSS::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    int64_t count;
    if (!readTableHeader(file, atom, movie, 4, &version, &flags, &count))
        return;
    if (count > entriesAllocated) {
        void* grown = std::realloc(table, static_cast<size_t>(count) * sizeof *table);
        if (!grown) {
            movie.refuse();
            return;
        }
        table = static_cast<int64_t*>(grown);
        entriesAllocated = count;
    }
    totalEntries = count;
    for (int64_t i = 0; i < count; i++)
        table[i] = movie.readInt32();
}

void QuicktimeSTSS::deleteMe() {
    std::free(table);
    table = nullptr;
    totalEntries = entriesAllocated = 0;
}

void QuicktimeSTSC::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    deleteMe();
    int64_t count;
    if (!readTableHeader(file, atom, movie, 12, &version, &flags, &count))
        return;
    table = allocTable<QuicktimeSTSCTable>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = entriesAllocated = count;
    int64_t previous = 0;
    for (int64_t i = 0; i < count; i++) {
        table[i].chunk = movie.readInt32();
        table[i].samples = movie.readInt32();
        table[i].id = movie.readInt32();
        // Runs start at chunk 1 and go strictly forward; anything else would
        // send the lookups to chunk 0 or backwards through the offsets.
        if ((i == 0 && table[i].chunk != 1) || table[i].chunk <= previous) {
            movie.refuse();
            return;
        }
        previous = table[i].chunk;
    }
}

void QuicktimeSTSC::deleteMe() {
    std::free(table);
    table = nullptr;
    totalEntries = entriesAllocated = 0;
}

void QuicktimeSTSZ::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    deleteMe();
    if (!movie.need(atom.end, 12))
        return;
    version = movie.readChar();
    flags = movie.readInt24();
    sampleSize = movie.readInt32();
    int64_t count = movie.readInt32();
    if (sampleSize != 0) {
        // Samples of one size have no table, but together they must still
        // fit in the file that holds them.
        uint64_t bytes;
        if (!keo::checkedMul(static_cast<uint64_t>(count), static_cast<uint64_t>(sampleSize),
                             &bytes) ||
            bytes > static_cast<uint64_t>(file->fileSize)) {
            movie.refuse();
            return;
        }
        totalEntries = entriesAllocated = count;
        return;
    }
    int64_t left = atom.end - movie.position(file);
    if (!keo::entriesFit(static_cast<uint64_t>(count), 4, static_cast<uint64_t>(left))) {
        movie.refuse();
        return;
    }
    table = allocTable<int64_t>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = entriesAllocated = count;
    for (int64_t i = 0; i < count; i++)
        table[i] = movie.readInt32();
}

void QuicktimeSTSZ::deleteMe() {
    std::free(table);
    table = nullptr;
    totalEntries = entriesAllocated = 0;
}

namespace {

void readOffsets(QuicktimeSTCO& stco, QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie,
                 bool wide) {
    stco.deleteMe();
    int64_t count;
    if (!readTableHeader(file, atom, movie, wide ? 8 : 4, &stco.version, &stco.flags, &count))
        return;
    stco.table = allocTable<int64_t>(count, movie);
    if (movie.stopped())
        return;
    stco.totalEntries = stco.entriesAllocated = count;
    const uint64_t maxOffset = std::numeric_limits<int64_t>::max();
    for (int64_t i = 0; i < count; i++) {
        // An offset no position can reach stays unreachable, not negative.
        uint64_t offset = wide ? movie.readInt64() : static_cast<uint64_t>(movie.readInt32());
        stco.table[i] = static_cast<int64_t>(offset > maxOffset ? maxOffset : offset);
    }
}

} // namespace

void QuicktimeSTCO::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    readOffsets(*this, file, atom, movie, false);
}

void QuicktimeSTCO::read64(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    readOffsets(*this, file, atom, movie, true);
}

void QuicktimeSTCO::deleteMe() {
    std::free(table);
    table = nullptr;
    totalEntries = entriesAllocated = 0;
}

void QuicktimeSTBL::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie,
                         QuicktimeMInf& minf) {
    walkChildren(file, atom, movie, [&](QuicktimeAtom& child) {
        if (child.is("stsd"))
            stsd.read(file, child, movie, minf);
        else if (child.is("stts"))
            stts.read(file, child, movie);
        else if (child.is("stss"))
            stss.read(file, child, movie);
        else if (child.is("stsc"))
            stsc.read(file, child, movie);
        else if (child.is("stsz"))
            stsz.read(file, child, movie);
        else if (child.is("stco"))
            stco.read(file, child, movie);
        else if (child.is("co64"))
            stco.read64(file, child, movie);
    });
}

void QuicktimeSTBL::deleteMe() {
    stsd.deleteMe();
    stts.deleteMe();
    stss.deleteMe();
    stsc.deleteMe();
    stsz.deleteMe();
    stco.deleteMe();
}
