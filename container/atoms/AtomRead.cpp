// The table header and matrix shared by the atom readers.
#include "container/atoms/AtomRead.h"

bool readVersionAndFlags(AtomReader& atom, int32_t* version, int64_t* flags) {
    return atom.s8(version) && atom.u24(flags);
}

bool readUInt32s(AtomReader& atom, std::initializer_list<int64_t*> fields) {
    for (int64_t* field : fields)
        atom.u32(field);
    return atom.ok();
}

bool readTableHeader(AtomReader& atom, uint64_t entrySize, int32_t* version, int64_t* flags,
                     int64_t* count) {
    return readVersionAndFlags(atom, version, flags) && atom.count(entrySize, count);
}

bool readMatrix(AtomReader& atom, QuicktimeMatrix& matrix) {
    for (float& v : matrix.values)
        atom.fixed32(&v);
    return atom.ok();
}
