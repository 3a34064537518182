// The big-endian field primitives of MovFile and its position counters.
//
// readInto is the single path of every read from the file: atom headers of
// the top-level walk, the movie atom's payload (which the atom records then
// parse from memory, container/AtomReader.h), frames and audio.
#include <algorithm>
#include <cstring>
#include <limits>

#include "base/Bounds.h"
#include "base/ByteOrder.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"

using keo::checkedAdd;

namespace {

const int64_t kMaxPosition = std::numeric_limits<int64_t>::max();

// Truncates toward zero like a cast, but gives 0 instead of undefined
// behaviour for values no 32-bit integer can hold.
int32_t truncateToInt(float f) {
    if (!(f > -2147483648.0f && f < 2147483648.0f))
        return 0;
    return static_cast<int32_t>(f);
}

// Every integer field of the container is big-endian: `bytes` bytes (at most
// 8), most significant first. A read that falls short finds zeros
// (readInto fills them), so it yields the value of the bytes that were there.
uint64_t readBigEndian(MovFile& movie, int bytes) {
    unsigned char b[8];
    movie.readInto(bytes, b);
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | b[i];
    return v;
}

// The low `bytes` bytes of v, most significant first.
int writeBigEndian(MovFile& movie, uint64_t v, int bytes) {
    unsigned char b[8];
    for (int i = bytes - 1; i >= 0; --i, v >>= 8)
        b[i] = static_cast<unsigned char>(v);
    return movie.writeInto(bytes, b);
}

// Moves both counters n bytes past the last read or write; a position past
// the largest one stays there rather than wrapping.
int64_t advance(QuicktimeFile* f, int64_t n) {
    int64_t next;
    if (!checkedAdd(f->filePosition, n, &next))
        next = kMaxPosition;
    f->filePosition = next;
    f->lastPosition = next;
    return next;
}

} // namespace

int64_t MovFile::readInto(int64_t n, void* buf) {
    if (n <= 0 || !buf)
        return 0;
    unsigned char* out = static_cast<unsigned char*>(buf);
    QuicktimeFile* f = file;
    if (!f) {
        std::memset(out, 0, static_cast<size_t>(n));
        return 0;
    }
    int64_t pos = f->filePosition;
    // A file open for reading is never read past the size it had when it was
    // opened, so a truncated file reads the same zeros every time, whatever
    // the stream would do past its end.
    int64_t want = n;
    if (f->rd)
        want = (pos >= 0 && pos < f->fileSize) ? std::min(n, f->fileSize - pos) : 0;
    size_t got = want > 0 ? fread_L(out, 1, static_cast<size_t>(want), f->fp) : 0;
    if (got < static_cast<size_t>(n))
        std::memset(out + got, 0, static_cast<size_t>(n) - got);
    int64_t next = advance(f, n);
    // Only a short read leaves the stream behind the counter.
    if (got != static_cast<size_t>(n))
        fseek_L(f->fp, next, SEEK_SET);
    return static_cast<int64_t>(got);
}

int MovFile::readChar() {
    unsigned char b[1];
    readInto(1, b);
    return static_cast<signed char>(b[0]);
}

int MovFile::readInt16() {
    return static_cast<int>(readBigEndian(*this, 2));
}

int64_t MovFile::readInt24() {
    return static_cast<int64_t>(readBigEndian(*this, 3));
}

int64_t MovFile::readInt32() {
    return static_cast<int64_t>(readBigEndian(*this, 4));
}

int64_t MovFile::readUInt32() {
    return readInt32();
}
int64_t MovFile::readSizeOfAtom() {
    return readInt32();
}

uint64_t MovFile::readInt64() {
    return readBigEndian(*this, 8);
}

void MovFile::readChar32(char* buf) {
    readInto(4, buf);
}

float MovFile::readFixed32() {
    unsigned char b[4];
    readInto(4, b);
    return static_cast<float>(keo::loadBE16(b)) +
           static_cast<float>(keo::loadBE16(b + 2)) / 65536.0f;
}

float MovFile::readFixed16() {
    unsigned char b[2];
    readInto(2, b);
    return static_cast<float>(b[0]) + static_cast<float>(b[1]) / 256.0f;
}

void MovFile::readPascal(char* buf) {
    unsigned char n[1];
    readInto(1, n);
    readInto(n[0], buf);
    buf[n[0]] = 0;
}

void MovFile::readMatrix(QuicktimeMatrix& m) {
    for (float& v : m.values)
        v = readFixed32();
}

int MovFile::writeInto(int64_t n, const void* buf) {
    if (n <= 0 || !file)
        return 0;
    int written = static_cast<int>(fwrite_L(buf, static_cast<size_t>(n), 1, file->fp));
    advance(file, n);
    return written;
}

int MovFile::writeChar(int c) {
    unsigned char b[1] = {static_cast<unsigned char>(c)};
    return writeInto(1, b);
}

int MovFile::writeInt16(int64_t v) {
    return writeBigEndian(*this, static_cast<uint64_t>(v), 2);
}

int MovFile::writeInt24(int64_t v) {
    return writeBigEndian(*this, static_cast<uint64_t>(v), 3);
}

int MovFile::writeInt32(int64_t v) {
    return writeBigEndian(*this, static_cast<uint64_t>(v), 4);
}

int MovFile::writeInt64(int64_t v) {
    return writeBigEndian(*this, static_cast<uint64_t>(v), 8);
}

int MovFile::writeChar32(const char* s) {
    return writeInto(4, s);
}

int MovFile::writeFixed16(float f) {
    int32_t whole = truncateToInt(f);
    int32_t fraction = truncateToInt((f - static_cast<float>(whole)) * 256.0f);
    unsigned char b[2] = {static_cast<unsigned char>(whole), static_cast<unsigned char>(fraction)};
    return writeInto(2, b);
}

int MovFile::writeFixed32(float f) {
    int32_t whole = truncateToInt(f);
    int32_t fraction = truncateToInt((f - static_cast<float>(whole)) * 65536.0f);
    unsigned char b[4];
    keo::storeBE16(b, static_cast<uint16_t>(whole));
    keo::storeBE16(b + 2, static_cast<uint16_t>(fraction));
    return writeInto(4, b);
}

int MovFile::writeMatrix(const QuicktimeMatrix& m) {
    int written = 0;
    for (float v : m.values)
        written += writeFixed32(v);
    return written;
}

int MovFile::writePascal(const char* s) {
    size_t n = std::strlen(s);
    if (n > 255)
        n = 255; // the length byte cannot say more
    writeChar(static_cast<int>(n));
    return writeInto(static_cast<int64_t>(n), s);
}

int64_t MovFile::position(QuicktimeFile* f) {
    // While reading, every move of the stream goes through these primitives,
    // so the counter is the position; it stays right even where a stream
    // cannot follow (past the end of a file held in memory).
    f->lastPosition = f->rd ? f->filePosition : ftell_L(f->fp);
    return f->lastPosition;
}

int MovFile::setPosition(QuicktimeFile* f, int64_t pos) {
    fseek_L(f->fp, pos, SEEK_SET);
    f->lastPosition = pos;
    f->filePosition = f->rd ? pos : ftell_L(f->fp);
    return 0;
}

int MovFile::match32(const char* a, const char* b) {
    return std::memcmp(a, b, 4) == 0 ? 1 : 0;
}

int MovFile::atomSkip(QuicktimeFile* f, QuicktimeAtom& atom) {
    // A zero-size atom still moves the walk on by one byte.
    if (atom.end <= atom.start)
        atom.end = atom.start < kMaxPosition ? atom.start + 1 : kMaxPosition;
    return setPosition(f, atom.end);
}
