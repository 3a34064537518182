// File names between the file system's bytes and a host's UTF-16.
//
// A name on Linux is any bytes; a host names files in UTF-16. Bytes that
// are UTF-8 become their characters. A byte that starts no valid UTF-8
// sequence (a Latin-1 "caf\xE9", an overlong "\xC0\xAF", an encoded
// surrogate, a sequence cut short) becomes the lone low surrogate U+DC80 +
// (byte - 0x80), as other systems carry undecodable bytes, and comes back
// as that byte. ASCII is always valid, so every byte that needs escaping is
// 0x80 or above and U+DC80..U+DCFF holds them all.
//
// So every name goes to UTF-16 and back unchanged, and the way back is
// checked to be the way there: UTF-16 that no name gives (an unpaired
// surrogate outside that range, or escaped bytes that read as UTF-8, which
// would be a second spelling of another name) names no file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace keo {

constexpr uint16_t kEscapedByteFirst = 0xDC80; // carries byte 0x80
constexpr uint16_t kEscapedByteLast = 0xDCFF;  // carries byte 0xFF

// The length of the valid UTF-8 sequence at s (n bytes readable) and its
// code point in *cp; 0 when s starts none: a stray continuation, a lead
// byte that no sequence uses (C0, C1, F5..FF), a sequence cut short or
// with a bad continuation, an overlong form, a surrogate or a code point
// above U+10FFFF.
inline size_t utf8Sequence(const unsigned char* s, size_t n, uint32_t* cp) {
    if (n == 0)
        return 0;
    const unsigned char c = s[0];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    size_t length;
    uint32_t value;
    // The second byte's range, which excludes the overlong forms, the
    // surrogates (ED A0..BF) and the code points past U+10FFFF (F4 90..).
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        value = c & 0x0F;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        value = c & 0x07;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (n < length || s[1] < low || s[1] > high)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (s[i] & 0x3F);
    }
    *cp = value;
    return length;
}

// One step of a name (n bytes readable at s, n >= 1): the UTF-16 of the
// character there, or of the one byte escaped. Writes 1 or 2 units and
// returns how many bytes it took.
inline size_t pathStepToUTF16(const unsigned char* s, size_t n, uint16_t units[2],
                              size_t* unitCount) {
    uint32_t cp = 0;
    const size_t length = utf8Sequence(s, n, &cp);
    if (length == 0) {
        units[0] = static_cast<uint16_t>(kEscapedByteFirst + (s[0] - 0x80));
        *unitCount = 1;
        return 1;
    }
    if (cp < 0x10000) {
        units[0] = static_cast<uint16_t>(cp);
        *unitCount = 1;
    } else {
        cp -= 0x10000;
        units[0] = static_cast<uint16_t>(0xD800 + (cp >> 10));
        units[1] = static_cast<uint16_t>(0xDC00 + (cp & 0x3FF));
        *unitCount = 2;
    }
    return length;
}

} // namespace keo
