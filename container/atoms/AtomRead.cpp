// The bounded child walk and table headers shared by the atom readers.
#include "container/atoms/AtomRead.h"

#include "base/Bounds.h"

bool readChildHeader(QuicktimeFile* file, const QuicktimeAtom& parent, QuicktimeAtom& child,
                     MovFile& movie) {
    int64_t pos = movie.position(file);
    if (pos >= parent.end || parent.end - pos < 8)
        return false;
    child.readHeader(file, movie);
    int64_t headerBytes = movie.position(file) - child.start;
    if (child.start < pos || child.size < headerBytes || child.end > parent.end) {
        movie.refuse();
        return false;
    }
    return true;
}

bool readTableHeader(QuicktimeFile* file, const QuicktimeAtom& atom, MovFile& movie,
                     uint64_t entrySize, int32_t* version, int64_t* flags, int64_t* count) {
    if (!movie.need(atom.end, 8))
        return false;
    *version = movie.readChar();
    *flags = movie.readInt24();
    *count = movie.readInt32();
    int64_t left = atom.end - movie.position(file);
    if (!keo::entriesFit(static_cast<uint64_t>(*count), entrySize, static_cast<uint64_t>(left))) {
        movie.refuse();
        return false;
    }
    return true;
}
