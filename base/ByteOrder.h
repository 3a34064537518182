// Byte-order helpers shared by every parser and writer of the project.
//
// QuickTime container fields are big-endian; the KEO frame header and the
// block data are little-endian. Values are assembled and spilled one byte at a
// time, so results never depend on the machine's byte order or on alignment.
#pragma once

#include <cstdint>

namespace keo {

inline uint16_t loadLE16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t loadLE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void storeLE16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void storeLE32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

inline uint16_t loadBE16(const unsigned char* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t loadBE24(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
inline uint32_t loadBE32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint64_t loadBE64(const unsigned char* p) {
    return (static_cast<uint64_t>(loadBE32(p)) << 32) | loadBE32(p + 4);
}
inline void storeBE16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}
inline void storeBE24(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 16);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v);
}
inline void storeBE32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}
inline void storeBE64(unsigned char* p, uint64_t v) {
    storeBE32(p, static_cast<uint32_t>(v >> 32));
    storeBE32(p + 4, static_cast<uint32_t>(v));
}

} // namespace keo
