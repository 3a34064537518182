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

void QuicktimeTKHD::read(QuicktimeFile*, QuicktimeAtom& atom, MovFile& movie) {
    if (!movie.need(atom.end, 84))
        return;
    version = movie.readChar();
    flags = movie.readInt24();
    creationTime = movie.readInt32();
    modificationTime = movie.readInt32();
    trackId = static_cast<int32_t>(movie.readInt32());
    reserved1 = movie.readInt32();
    duration = movie.readInt32();
    movie.readInto(8, reserved2);
    layer = movie.readInt16();
    alternateGroup = movie.readInt16();
    volume = movie.readFixed16();
    reserved3 = movie.readInt16();
    movie.readMatrix(matrix);
    trackWidth = movie.readFixed32();
    trackHeight = movie.readFixed32();
}

void QuicktimeELSTTable::init() {
    duration = 0;
    time = 0;
    rate = 1.0f;
}

void QuicktimeELST::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    deleteMe();
    int64_t count;
    if (!readTableHeader(file, atom, movie, 12, &version, &flags, &count))
        return;
    table = allocTable<QuicktimeELSTTable>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = count;
    for (int64_t i = 0; i < count; i++) {
        table[i].init();
        table[i].duration = movie.readInt32();
        table[i].time = movie.readInt32();
        table[i].rate = movie.readFixed32();
    }
}

void QuicktimeELST::deleteMe() {
    std::free(table);
    table = nullptr;
    totalEntries = 0;
}

void QuicktimeEDTS::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    walkChildren(file, atom, movie, [&](QuicktimeAtom& child) {
        if (child.is("elst"))
            elst.read(file, child, movie);
    });
}

void QuicktimeTrak::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    walkChildren(file, atom, movie, [&](QuicktimeAtom& child) {
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
