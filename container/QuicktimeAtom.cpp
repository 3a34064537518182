// Reading and writing atom headers, with 64-bit sizes and the wide atom.
#include "container/QuicktimeAtom.h"

#include <cstring>
#include <limits>

#include "base/ByteOrder.h"
#include "container/AtomReader.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"

int QuicktimeAtom::readHeader(QuicktimeFile* file, MovFile& movie) {
    reset();
    start = movie.position(file);
    // Room for the longest header: an 8-byte wide atom, then the atom's own
    // 8 bytes and a 64-bit size.
    unsigned char window[24];
    const int64_t got = movie.readInto(sizeof window, window);
    AtomReader reader(window, static_cast<size_t>(got), start);
    bool letters = false;
    if (!reader.readAtomHeader(this, &letters)) {
        // Cut short by the end of the file: no atom, and the walk stops.
        reset();
        end = start;
        size = 0;
        movie.setPosition(file, start + got);
        return 1;
    }
    movie.setPosition(file, reader.position());
    // A size that no position can hold reaches the end of the file.
    if (end == std::numeric_limits<int64_t>::max()) {
        end = file->fileSize > start ? file->fileSize : start;
        size = end - start;
    }
    return letters ? 0 : 1;
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
