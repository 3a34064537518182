// The free atom: a header, and zeros where the writer lays out new room.
#include "container/atoms/FreeSpace.h"

#include <algorithm>

#include "container/MovFile.h"

void QuicktimeFREE::init(int64_t at, int64_t bytes) {
    start = at;
    size = bytes;
}

void QuicktimeFREE::read(const QuicktimeAtom& header) {
    start = header.start;
    size = header.size;
}

int QuicktimeFREE::write(QuicktimeFile* file, MovFile& movie, bool body) {
    if (size < 8 || size > 0xFFFFFFFFLL)
        return 1;
    movie.setPosition(file, start);
    if (movie.writeInt32(size) != 4 || movie.writeChar32("free") != 4)
        return 1;
    static const char kZeros[4096] = {};
    for (int64_t left = body ? size - 8 : 0; left > 0;) {
        const int64_t n = std::min<int64_t>(left, sizeof kZeros);
        if (movie.writeInto(n, kZeros) != n)
            return 1;
        left -= n;
    }
    return 0;
}
