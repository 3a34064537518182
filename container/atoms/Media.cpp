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

void QuicktimeMDHD::read(QuicktimeFile*, AtomReader& atom, MovFile&) {
    readVersionAndFlags(atom, &version, &flags);
    readUInt32s(atom, {&creationTime, &modificationTime, &timeScale, &duration});
    atom.u16(&language);
    atom.u16(&quality);
}

void QuicktimeHDLR::init() {
    std::memset(this, 0, sizeof *this);
    std::memcpy(componentType, "mhlr", 4);
    std::memcpy(componentSubtype, "vide", 4);
    std::strcpy(componentName, "ZU handler");
}

void QuicktimeHDLR::read(QuicktimeFile*, AtomReader& atom, MovFile&) {
    readVersionAndFlags(atom, &version, &flags);
    atom.fourCC(componentType);
    atom.fourCC(componentSubtype);
    readUInt32s(atom, {&componentManufacturer, &componentFlags, &componentFlagsMask});
    // The name is only shown, never used: a Pascal string as this format
    // stores it, else whatever text is there (a C string without a length
    // byte, as many writers store it), else nothing. None of these refuses.
    AtomReader name = atom;
    if (name.pascal(componentName))
        atom = name;
    else
        atom.restAsText(componentName, sizeof componentName);
}

void QuicktimeVMHD::init() {
    version = 0;
    flags = 1;
    graphicsMode = 64;
    for (int32_t& c : opcolor)
        c = 32768;
}

void QuicktimeVMHD::read(QuicktimeFile*, AtomReader& atom, MovFile&) {
    readVersionAndFlags(atom, &version, &flags);
    atom.u16(&graphicsMode);
    for (int32_t& c : opcolor)
        atom.u16(&c);
}

void QuicktimeSMHD::init() {
    version = 0;
    flags = 0;
    balance = 0;
    reserved = 0;
}

void QuicktimeSMHD::read(QuicktimeFile*, AtomReader& atom, MovFile&) {
    readVersionAndFlags(atom, &version, &flags);
    atom.u16(&balance);
    atom.u16(&reserved);
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

void QuicktimeDRef::read(QuicktimeFile*, AtomReader& atom, MovFile& movie) {
    deleteMe();
    int64_t count;
    // Every entry carries at least its 12-byte header.
    if (!readTableHeader(atom, 12, &version, &flags, &count))
        return;
    table = allocTable<QuicktimeDRefTable>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = count;
    for (int64_t i = 0; i < count; i++) {
        QuicktimeDRefTable& entry = table[i];
        entry.init();
        if (!atom.u32(&entry.size) || !atom.fourCC(entry.type) || !atom.s8(&entry.version) ||
            !atom.u24(&entry.flags))
            return;
        // The entry must hold its own header and stay inside dref.
        if (entry.size < 12 || static_cast<uint64_t>(entry.size - 12) > atom.remaining()) {
            atom.fail();
            return;
        }
        const int64_t dataBytes = entry.size - 12;
        entry.dataReference = static_cast<char*>(std::malloc(static_cast<size_t>(dataBytes) + 1));
        if (!entry.dataReference) {
            movie.refuse();
            return;
        }
        atom.bytes(entry.dataReference, static_cast<uint64_t>(dataBytes));
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

void QuicktimeDInf::read(QuicktimeFile* file, AtomReader& atom, MovFile& movie) {
    walkChildren(atom, movie, [&](AtomReader& child) {
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

void QuicktimeMInf::read(QuicktimeFile* file, AtomReader& atom, MovFile& movie) {
    walkChildren(atom, movie, [&](AtomReader& child) {
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

void QuicktimeMdia::read(QuicktimeFile* file, AtomReader& atom, MovFile& movie) {
    walkChildren(atom, movie, [&](AtomReader& child) {
        if (child.is("mdhd"))
            mdhd.read(file, child, movie);
        else if (child.is("hdlr"))
            hdlr.read(file, child, movie);
        else if (child.is("minf"))
            minf.read(file, child, movie);
    });
}
