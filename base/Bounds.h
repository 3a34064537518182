// Overflow-free size arithmetic for values that come from files and hosts.
//
// Every count, size and offset read from a movie or a frame header is checked
// with these before anything is allocated, indexed or read. The room test is
// written as `n <= size - pos` (after `pos <= size`) so it cannot wrap.
#pragma once

#include <cstdint>
#include <limits>

namespace keo {

// True when [pos, pos + n) lies inside a buffer or atom of `size` bytes.
inline bool hasRoom(uint64_t pos, uint64_t n, uint64_t size) {
    return pos <= size && n <= size - pos;
}

// a * b into *out; false (and *out untouched) when the product does not fit.
inline bool checkedMul(uint64_t a, uint64_t b, uint64_t* out) {
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a)
        return false;
    *out = a * b;
    return true;
}
inline bool checkedAdd(uint64_t a, uint64_t b, uint64_t* out) {
    if (b > std::numeric_limits<uint64_t>::max() - a)
        return false;
    *out = a + b;
    return true;
}

// Signed 64-bit versions for file positions and sample arithmetic.
inline bool checkedMul(int64_t a, int64_t b, int64_t* out) {
    return !__builtin_mul_overflow(a, b, out);
}
inline bool checkedAdd(int64_t a, int64_t b, int64_t* out) {
    return !__builtin_add_overflow(a, b, out);
}

// True when `count` entries of `entrySize` bytes fit into `bytesLeft`.
inline bool entriesFit(uint64_t count, uint64_t entrySize, uint64_t bytesLeft) {
    uint64_t need;
    return checkedMul(count, entrySize, &need) && need <= bytesLeft;
}

} // namespace keo
