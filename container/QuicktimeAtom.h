// QuicktimeAtom: one atom header as read from or written to a movie file.
//
// On disk (big-endian):
//   offset 0  u32  size   total size including this header; 1 = a 64-bit size follows
//   offset 4  4cc  type
//   offset 8  u64  size   only when the 32-bit size is 1
//
// A `wide` atom (8 bytes of padding that lets a following atom grow to a
// 64-bit size) is folded into the header that follows it.
#pragma once

#include <cstdint>

struct MovFile;
struct QuicktimeFile;

struct QuicktimeAtom {
    int64_t start; // first byte of the header
    int64_t end;   // just past the atom: start + size
    int64_t size;  // total size, header included
    int32_t use64; // writer only: header written with a 64-bit size field
    char type[4];  // not terminated

    // Reads one header at the current position. Returns 0 when the type is
    // four letters, 1 otherwise (the top-level walk stops on 1).
    int readHeader(QuicktimeFile* file, MovFile& movie);
    // Copies bytes 4..7 of an 8-byte header; 0 when all four are letters.
    static int readType(const unsigned char* buf, char* type);
    static bool myIsAlpha(int c);
    int is(const char* other) const;
    void reset();
    void readSize(const unsigned char* buf);
    // Sets `size` from a 64-bit field, raised to 8 when smaller; returns the
    // value as stored.
    uint64_t readSize64(const unsigned char* buf);

    // Header with a 32-bit size placeholder; 1 when a write wrote nothing.
    int writeHeader(QuicktimeFile* file, const char* type, MovFile& movie);
    // Header with the 64-bit size form (16 bytes).
    int writeHeader64(QuicktimeFile* file, const char* type, MovFile& movie);
    // Patches the size of the finished atom and returns to its end.
    int writeFooter(QuicktimeFile* file, MovFile& movie);
};
