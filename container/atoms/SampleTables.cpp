// Reading the sample table atom and its tables. Every count is checked
// against the bytes of its atom before a table is allocated.
#include "container/atoms/SampleTables.h"

#include <cstdlib>
#include <limits>

#include "base/Bounds.h"
#include "container/atoms/AtomRead.h"
#include "container/atoms/Media.h"

void QuicktimeSTTS::read(QuicktimeFile*, AtomReader& atom, MovFile& movie) {
    deleteMe();
    int64_t count;
    if (!readTableHeader(atom, 8, &version, &flags, &count))
        return;
    table = allocTable<QuicktimeSTTSTable>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = count;
    for (int64_t i = 0; i < count; i++) {
        atom.u32(&table[i].sampleCount);
        atom.u32(&table[i].sampleDuration);
    }
}

void QuicktimeSTTS::deleteMe() {
    std::free(table);
    table = nullptr;
    totalEntries = 0;
}

void QuicktimeSTSS::read(QuicktimeFile*, AtomReader& atom, MovFile& movie) {
    int64_t count;
    if (!readTableHeader(atom, 4, &version, &flags, &count))
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
        atom.u32(&table[i]);
}

void QuicktimeSTSS::deleteMe() {
    std::free(table);
    table = nullptr;
    totalEntries = entriesAllocated = 0;
}

void QuicktimeSTSC::read(QuicktimeFile*, AtomReader& atom, MovFile& movie) {
    deleteMe();
    int64_t count;
    if (!readTableHeader(atom, 12, &version, &flags, &count))
        return;
    table = allocTable<QuicktimeSTSCTable>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = entriesAllocated = count;
    int64_t previous = 0;
    for (int64_t i = 0; i < count; i++) {
        atom.u32(&table[i].chunk);
        atom.u32(&table[i].samples);
        atom.u32(&table[i].id);
        // Runs start at chunk 1 and go strictly forward; anything else would
        // send the lookups to chunk 0 or backwards through the offsets.
        if ((i == 0 && table[i].chunk != 1) || table[i].chunk <= previous) {
            atom.fail();
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

void QuicktimeSTSZ::read(QuicktimeFile* file, AtomReader& atom, MovFile& movie) {
    deleteMe();
    int64_t constant, count;
    if (!readVersionAndFlags(atom, &version, &flags) || !atom.u32(&constant) || !atom.u32(&count))
        return;
    sampleSize = constant;
    if (sampleSize != 0) {
        // Samples of one size have no table, but together they must still
        // fit in the file that holds them.
        uint64_t bytes;
        if (!keo::checkedMul(static_cast<uint64_t>(count), static_cast<uint64_t>(sampleSize),
                             &bytes) ||
            bytes > static_cast<uint64_t>(file->fileSize)) {
            atom.fail();
            return;
        }
        totalEntries = entriesAllocated = count;
        return;
    }
    if (!atom.hasRoomFor(static_cast<uint64_t>(count), 4)) {
        atom.fail();
        return;
    }
    table = allocTable<int64_t>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = entriesAllocated = count;
    for (int64_t i = 0; i < count; i++)
        atom.u32(&table[i]);
}

void QuicktimeSTSZ::deleteMe() {
    std::free(table);
    table = nullptr;
    totalEntries = entriesAllocated = 0;
}

namespace {

void readOffsets(QuicktimeSTCO& stco, AtomReader& atom, MovFile& movie, bool wide) {
    stco.deleteMe();
    int64_t count;
    if (!readTableHeader(atom, wide ? 8 : 4, &stco.version, &stco.flags, &count))
        return;
    stco.table = allocTable<int64_t>(count, movie);
    if (movie.stopped())
        return;
    stco.totalEntries = stco.entriesAllocated = count;
    const uint64_t maxOffset = std::numeric_limits<int64_t>::max();
    for (int64_t i = 0; i < count; i++) {
        uint64_t offset = 0;
        if (wide)
            atom.u64(&offset);
        else
            atom.u32(&offset);
        // An offset no position can reach stays unreachable, not negative.
        stco.table[i] = static_cast<int64_t>(offset > maxOffset ? maxOffset : offset);
    }
}

} // namespace

void QuicktimeSTCO::read(QuicktimeFile*, AtomReader& atom, MovFile& movie) {
    readOffsets(*this, atom, movie, false);
}

void QuicktimeSTCO::read64(QuicktimeFile*, AtomReader& atom, MovFile& movie) {
    readOffsets(*this, atom, movie, true);
}

void QuicktimeSTCO::deleteMe() {
    std::free(table);
    table = nullptr;
    totalEntries = entriesAllocated = 0;
}

void QuicktimeSTBL::read(QuicktimeFile* file, AtomReader& atom, MovFile& movie,
                         QuicktimeMInf& minf) {
    walkChildren(atom, movie, [&](AtomReader& child) {
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
