// Reading the track atom, its header and its edit list.
#include "container/atoms/Track.h"

#include <cstdlib>
#include <cstring>

#include "container/atoms/AtomRead.h"

void QuicktimeTKHD::init() {
    std::memset(this, 0, sizeof *this);
    flags = 15; // enabled, in movie, in preview, in poster
    matrix.init();
}

void QuicktimeTKHD::read(QuicktimeFile*, AtomReader& atom, MovFile&) {
    uint32_t id = 0;
    readVersionAndFlags(atom, &version, &flags);
    readUInt32s(atom, {&creationTime, &modificationTime});
    if (atom.u32(&id))
        trackId = static_cast<int32_t>(id);
    atom.u32(&reserved1);
    atom.u32(&duration);
    atom.bytes(reserved2, sizeof reserved2);
    atom.u16(&layer);
    atom.u16(&alternateGroup);
    atom.fixed16(&volume);
    atom.u16(&reserved3);
    readMatrix(atom, matrix);
    atom.fixed32(&trackWidth);
    atom.fixed32(&trackHeight);
}

void QuicktimeELSTTable::init() {
    duration = 0;
    time = 0;
    rate = 1.0f;
}

void QuicktimeELST::read(QuicktimeFile*, AtomReader& atom, MovFile& movie) {
    deleteMe();
    int64_t count;
    if (!readTableHeader(atom, 12, &version, &flags, &count))
        return;
    table = allocTable<QuicktimeELSTTable>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = count;
    for (int64_t i = 0; i < count; i++) {
        table[i].init();
        atom.u32(&table[i].duration);
        atom.u32(&table[i].time);
        atom.fixed32(&table[i].rate);
    }
}

void QuicktimeELST::deleteMe() {
    std::free(table);
    table = nullptr;
    totalEntries = 0;
}

void QuicktimeEDTS::read(QuicktimeFile* file, AtomReader& atom, MovFile& movie) {
    walkChildren(atom, movie, [&](AtomReader& child) {
        if (child.is("elst"))
            elst.read(file, child, movie);
    });
}

void QuicktimeTrak::read(QuicktimeFile* file, AtomReader& atom, MovFile& movie) {
    walkChildren(atom, movie, [&](AtomReader& child) {
        if (child.is("tkhd"))
            tkhd.read(file, child, movie);
        else if (child.is("edts"))
            edts.read(file, child, movie);
        else if (child.is("mdia"))
            mdia.read(file, child, movie);
    });
}

void QuicktimeTrak::deleteMe() {
    mdia.deleteMe();
    edts.deleteMe();
}
