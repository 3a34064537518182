// AtomReader: a bounded cursor over the payload of one atom.
//
// Every atom record reads its fields through one of these. A read that would
// pass the end of the atom fails: it stores nothing, and the reader stays
// failed, so every later read fails as well. A record can therefore read its
// fields one after another and need not test each one; no field is ever
// filled with zeros the file did not hold, and the walk that gave the record
// its reader refuses the movie when the reader failed (AtomRead.h).
//
// Room is tested as `n <= size - pos`, which cannot wrap, and a count read
// from the file is checked against the bytes that remain, with a checked
// product, before anything is allocated for it.
//
// The reader works on bytes in memory. The top-level walk reads the payload
// of each movie atom into memory once, its size checked against the file
// first (a media data atom is never read), and the whole tree is parsed from
// there. A movie atom is small (the tables of a two-hour movie are a few MB;
// one longer than any real movie needs, kMaxMovieAtomBytes of MovFile.h, is
// refused before it is read); parsing from memory cannot move the file
// position that frame reads share, cannot fail halfway for reasons of I/O,
// and gives each child a reader that sees exactly its own atom's bytes and
// nothing of its parent's.
//
// Children: nextChild reads the header at the cursor (32- or 64-bit size, a
// `wide` atom folded into the header after it), checks that the child holds
// its own header and lies inside this atom, hands the child a reader of its
// own and moves this one past the child, whatever the child's record reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "base/ByteOrder.h"
#include "container/QuicktimeAtom.h"

class AtomReader {
public:
    // An empty reader: no bytes, not failed.
    AtomReader() = default;
    // A reader over `size` bytes at `data`, whose first byte lies at
    // `fileOffset` in the file (positions and atom starts are given in file
    // terms). The bytes must outlive the reader and its children.
    AtomReader(const unsigned char* data, size_t size, int64_t fileOffset);

    // The header of the atom this reader reads (set by nextChild, or by
    // whoever made the reader): type, start, end and size.
    const QuicktimeAtom& header() const { return header_; }
    void setHeader(const QuicktimeAtom& header) { header_ = header; }
    bool is(const char* type) const { return header_.is(type) != 0; }

    bool ok() const { return !failed_; }
    // Marks the atom as not holding what its own fields promise (an entry
    // its count announced is missing, say). Sticks like a failed read.
    void fail() { failed_ = true; }
    // Bytes between the cursor and the end; 0 once failed.
    uint64_t remaining() const { return failed_ ? 0 : size_ - pos_; }
    // File position of the cursor.
    int64_t position() const { return base_ + static_cast<int64_t>(pos_); }

    // Typed big-endian reads. Each stores into *out only when it succeeds.
    // The destination must be able to hold every value of the field's width.
    template <typename T> bool u8(T* out) { return readUnsigned<T, 1>(out); }
    template <typename T> bool u16(T* out) { return readUnsigned<T, 2>(out); }
    template <typename T> bool u24(T* out) { return readUnsigned<T, 3>(out); }
    template <typename T> bool u32(T* out) { return readUnsigned<T, 4>(out); }
    template <typename T> bool u64(T* out) { return readUnsigned<T, 8>(out); }
    // One byte as a signed value, -128..127 (version bytes, field flags).
    template <typename T> bool s8(T* out) {
        static_assert(std::is_signed<T>::value, "a signed byte needs a signed destination");
        const unsigned char* p = take(1);
        if (!p)
            return false;
        *out = static_cast<T>(static_cast<signed char>(p[0]));
        return true;
    }
    // 16.16 and 8.8 fixed point; both halves unsigned.
    bool fixed32(float* out);
    bool fixed16(float* out);
    // Four raw characters, not terminated.
    bool fourCC(char* out) { return bytes(out, 4); }
    bool bytes(void* out, uint64_t n);
    bool skip(uint64_t n) { return take(n) != nullptr; }
    // A length byte and that many bytes into `out` (256 bytes), terminated.
    // Fails when the length runs past the atom.
    bool pascal(char* out);
    // Everything that remains, as text: the bytes up to the first zero (at
    // most capacity - 1 of them) go to `out`, terminated; the cursor moves
    // to the end. For names stored without a length byte.
    bool restAsText(char* out, size_t capacity);

    // Whether `count` entries of `entrySize` bytes fit in what remains.
    bool hasRoomFor(uint64_t count, uint64_t entrySize) const;
    // A 32-bit entry count whose entries must fit in what remains; fails
    // (and stores nothing) otherwise. Called before a table is allocated.
    bool count(uint64_t entrySize, int64_t* out);

    // Reads an atom header at the cursor into `atom`: start, size, end and
    // type, a 64-bit size when the size field is 1 (raised to 8 when
    // smaller), and a `wide` atom folded in. `end` is start + size, held at
    // the largest position when the sum would not fit. *fourLetters tells
    // whether the type is four letters. Fails when the header is cut short.
    bool readAtomHeader(QuicktimeAtom* atom, bool* fourLetters);
    // The next child atom: false at the end of this atom (fewer than 8 bytes
    // left, which is padding rather than a child) or once failed. A child
    // shorter than its own header, or reaching past this atom, fails this
    // reader. On success `child` reads exactly the child's payload and this
    // reader has moved past the whole child.
    bool nextChild(AtomReader* child);

private:
    // The next n bytes, or null (and failed) when they are not all there.
    const unsigned char* take(uint64_t n);

    template <typename T, int Width> bool readUnsigned(T* out) {
        static_assert(std::is_integral<T>::value, "an integer destination");
        static_assert(Width == 8 ? std::numeric_limits<T>::max() >= UINT64_MAX
                                 : static_cast<uint64_t>(std::numeric_limits<T>::max()) >=
                                       (uint64_t{1} << (8 * Width)) - 1,
                      "the destination cannot hold every value of the field");
        const unsigned char* p = take(Width);
        if (!p)
            return false;
        const uint64_t v = Width == 1   ? p[0]
                           : Width == 2 ? keo::loadBE16(p)
                           : Width == 3 ? keo::loadBE24(p)
                           : Width == 4 ? keo::loadBE32(p)
                                        : keo::loadBE64(p);
        *out = static_cast<T>(v);
        return true;
    }

    const unsigned char* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
    int64_t base_ = 0;
    bool failed_ = false;
    QuicktimeAtom header_{};
};
