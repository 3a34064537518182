// Reading and writing atom headers, with 64-bit sizes and the wide atom.
#include "container/QuicktimeAtom.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/Bounds.h"
#include "base/ByteOrder.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"

namespace {

// A size that cannot be a position (beyond signed 64 bits, or an end that
// would overflow) is taken as reaching the end of the file.
void setEnd(QuicktimeAtom& atom, uint64_t size, const QuicktimeFile* file) {
    int64_t end;
    if (size <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) &&
        keo::checkedAdd(atom.start, static_cast<int64_t>(size), &end)) {
        atom.size = static_cast<int64_t>(size);
        atom.end = end;
        return;
    }
    atom.end = std::max(file->fileSize, atom.start);
    atom.size = atom.end - atom.start;
}

// Reads the 8-byte size that follows a size field of 1.
void readLargeSize(QuicktimeAtom& atom, QuicktimeFile* file, MovFile& movie) {
    unsigned char buf[8];
    movie.readInto(8, buf);
    uint64_t stored = atom.readSize64(buf);
    setEnd(atom, stored < 8 ? 8 : stored, file);
}

} // namespace

int QuicktimeAtom::readHeader(QuicktimeFile* file, MovFile& movie) {
    reset();
    start = movie.position(file);
    unsigned char buf[8];
    movie.readInto(8, buf);
    int result = readType(buf, type);
    readSize(buf);
    setEnd(*this, static_cast<uint32_t>(size), file);

    if (is("wide")) {
        int64_t wideSize = size;
        start = movie.position(file);
        end = 0;
        std::memset(type, 0, sizeof type);
        movie.readInto(8, buf);
        result = readType(buf, type);
        if (wideSize > 8) {
            setEnd(*this, static_cast<uint64_t>(wideSize - 8), file);
            return result;
        }
        readSize(buf);
        setEnd(*this, static_cast<uint64_t>(size), file);
        // The atom after a wide one is the one that may need a 64-bit size.
        if (size == 1)
            readLargeSize(*this, file, movie);
        return result;
    }
    if (size == 1)
        readLargeSize(*this, file, movie);
    return result;
}

bool QuicktimeAtom::myIsAlpha(int c) {
    int upper = c & ~0x20;
    return upper >= 'A' && upper <= 'Z';
}

int QuicktimeAtom::readType(const unsigned char* buf, char* out) {
    int result = 0;
    for (int i = 0; i < 4; i++) {
        out[i] = static_cast<char>(buf[4 + i]);
        if (!myIsAlpha(buf[4 + i]))
            result = 1;
    }
    return result;
}

int QuicktimeAtom::is(const char* other) const {
    return std::memcmp(type, other, 4) == 0 ? 1 : 0;
}

void QuicktimeAtom::reset() {
    end = 0;
    std::memset(type, 0, sizeof type);
}

void QuicktimeAtom::readSize(const unsigned char* buf) {
    size = keo::loadBE32(buf);
}

uint64_t QuicktimeAtom::readSize64(const unsigned char* buf) {
    uint64_t stored = keo::loadBE64(buf);
    uint64_t raised = stored < 8 ? 8 : stored;
    size = raised > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
               ? std::numeric_limits<int64_t>::max()
               : static_cast<int64_t>(raised);
    return stored;
}

int QuicktimeAtom::writeHeader(QuicktimeFile* file, const char* t, MovFile& movie) {
    start = movie.position(file);
    int a = movie.writeInt32(0);
    int b = movie.writeChar32(t);
    use64 = 0;
    return (a == 0 || b == 0) ? 1 : 0;
}

int QuicktimeAtom::writeHeader64(QuicktimeFile* file, const char* t, MovFile& movie) {
    start = movie.position(file);
    int a = movie.writeInt32(1);
    int b = movie.writeChar32(t);
    int c = movie.writeInt64(0);
    use64 = 1;
    return (a == 0 || b == 0 || c == 0) ? 1 : 0;
}

int QuicktimeAtom::writeFooter(QuicktimeFile* file, MovFile& movie) {
    end = movie.position(file);
    if (use64) {
        movie.setPosition(file, start + 8);
        movie.writeInt64(end - start);
    } else {
        movie.setPosition(file, start);
        movie.writeInt32(end - start);
    }
    movie.setPosition(file, end);
    return 0;
}
