// Reading the media atom and the media information below it, and the
// defaults a new track's media starts from.
#include "container/atoms/Media.h"

#include <cstdlib>
#include <cstring>

#include "container/atoms/AtomRead.h"

void QuicktimeMDHD::init() {
    std::memset(this, 0, sizeof *this);
    quality = 100;
}

void QuicktimeMDHD::read(QuicktimeFile*, QuicktimeAtom& atom, MovFile& movie) {
    if (!movie.need(atom.end, 24))
        return;
    version = movie.readChar();
    flags = movie.readInt24();
    creationTime = movie.readInt32();
    modificationTime = movie.readInt32();
    timeScale = movie.readInt32();
    duration = movie.readInt32();
    language = movie.readInt16();
    quality = movie.readInt16();
}

void QuicktimeHDLR::init() {
    std::memset(this, 0, sizeof *this);
    std::memcpy(componentType, "mhlr", 4);
    std::memcpy(componentSubtype, "vide", 4);
    std::strcpy(componentName, "ZU handler");
}

void QuicktimeHDLR::read(QuicktimeFile*, QuicktimeAtom& atom, MovFile& movie) {
    if (!movie.need(atom.end, 24))
        return;
    version = movie.readChar();
    flags = movie.readInt24();
    movie.readChar32(componentType);
    movie.readChar32(componentSubtype);
    componentManufacturer = movie.readInt32();
    componentFlags = movie.readInt32();
    componentFlagsMask = movie.readInt32();
    movie.readPascal(componentName, atom.end);
}

void QuicktimeVMHD::init() {
    version = 0;
    flags = 1;
    graphicsMode = 64;
    for (int32_t& c : opcolor)
        c = 32768;
}

void QuicktimeVMHD::read(QuicktimeFile*, QuicktimeAtom& atom, MovFile& movie) {
    if (!movie.need(atom.end, 12))
        return;
    version = movie.readChar();
    flags = movie.readInt24();
    graphicsMode = movie.readInt16();
    for (int32_t& c : opcolor)
        c = movie.readInt16();
}

void QuicktimeSMHD::init() {
    version = 0;
    flags = 0;
    balance = 0;
    reserved = 0;
}

void QuicktimeSMHD::read(QuicktimeFile*, QuicktimeAtom& atom, MovFile& movie) {
    if (!movie.need(atom.end, 8))
        return;
    version = movie.readChar();
    flags = movie.readInt24();
    balance = movie.readInt16();
    reserved = movie.readInt16();
}

void QuicktimeDRefTable::init() {
    size = 0;
    std::memcpy(type, "alis", 4);
    version = 0;
    flags = 1;
    dataReference = nullptr;
}

void QuicktimeDRefTable::deleteMe() {
    std::free(dataReference);
    dataReference = nullptr;
}

void QuicktimeDRef::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    deleteMe();
    int64_t count;
    // Every entry carries at least its 12-byte header.
    if (!readTableHeader(file, atom, movie, 12, &version, &flags, &count))
        return;
    table = allocTable<QuicktimeDRefTable>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = count;
    for (int64_t i = 0; i < count; i++) {
        QuicktimeDRefTable& entry = table[i];
        entry.init();
        int64_t entryStart = movie.position(file);
        if (!movie.need(atom.end, 12))
            return;
        entry.size = movie.readInt32();
        movie.readChar32(entry.type);
        entry.version = movie.readChar();
        entry.flags = movie.readInt24();
        // The entry must hold its own header and stay inside dref.
        if (entry.size < 12 || entry.size > atom.end - entryStart) {
            movie.refuse();
            return;
        }
        int64_t dataBytes = entry.size - 12;
        entry.dataReference = static_cast<char*>(std::malloc(static_cast<size_t>(dataBytes) + 1));
        if (!entry.dataReference) {
            movie.refuse();
            return;
        }
        movie.readInto(dataBytes, entry.dataReference);
        entry.dataReference[dataBytes] = 0;
    }
}

void QuicktimeDRef::deleteMe() {
    for (int64_t i = 0; table && i < totalEntries; i++)
        table[i].deleteMe();
    std::free(table);
    table = nullptr;
    totalEntries = 0;
}

void QuicktimeDInf::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    walkChildren(file, atom, movie, [&](QuicktimeAtom& child) {
        if (child.is("dref"))
            dref.read(file, child, movie);
    });
}

void QuicktimeMInf::init() {
    isVideo = 0;
    isAudio = 0;
    vmhd.init();
    smhd.init();
    std::memset(&stbl, 0, sizeof stbl);
    hdlr.init();
    std::memset(&dinf, 0, sizeof dinf);
}

void QuicktimeMInf::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    walkChildren(file, atom, movie, [&](QuicktimeAtom& child) {
        // The kind is known from the media header atoms, so they must come
        // before stbl for the sample description to be read as such.
        if (child.is("vmhd")) {
            isVideo = 1;
            vmhd.read(file, child, movie);
        } else if (child.is("smhd")) {
            isAudio = 1;
            smhd.read(file, child, movie);
        } else if (child.is("hdlr")) {
            hdlr.read(file, child, movie);
        } else if (child.is("dinf")) {
            dinf.read(file, child, movie);
        } else if (child.is("stbl")) {
            stbl.read(file, child, movie, *this);
        }
    });
}

void QuicktimeMInf::deleteMe() {
    dinf.deleteMe();
    stbl.deleteMe();
}

void QuicktimeMdia::init() {
    mdhd.init();
    minf.init();
    hdlr.init();
}

void QuicktimeMdia::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    walkChildren(file, atom, movie, [&](QuicktimeAtom& child) {
        if (child.is("mdhd"))
            mdhd.read(file, child, movie);
        else if (child.is("hdlr"))
            hdlr.read(file, child, movie);
        else if (child.is("minf"))
            minf.read(file, child, movie);
    });
}
