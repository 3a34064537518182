// The table header and matrix shared by the atom readers.
#include "container/atoms/AtomRead.h"

bool readTableHeader(AtomReader& atom, uint64_t entrySize, int32_t* version, int64_t* flags,
                     int64_t* count) {
    return atom.s8(version) && atom.u24(flags) && atom.count(entrySize, count);
}

bool readMatrix(AtomReader& atom, QuicktimeMatrix& matrix) {
    for (float& v : matrix.values)
        atom.fixed32(&v);
    return atom.ok();
}
