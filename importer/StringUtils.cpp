// UTF-16 host paths, wide strings and bounded copies.
#include "importer/StringUtils.h"

#include "base/PathText.h"

#include <cstdint>
#include <cstring>

void copyConvertUTF16IntoStringLiteral(unsigned short* source, wchar_t* destination, int maxCount) {
    if (!source || !destination)
        return;
    for (int i = 0; i < maxCount; i++) {
        destination[i] = static_cast<wchar_t>(source[i]);
        if (source[i] == 0)
            break;
    }
}

void copyConvertStringLiteralIntoUTF16(wchar_t const* source, unsigned short* destination) {
    if (!source || !destination)
        return;
    size_t n = std::wcslen(source);
    size_t out = 0;
    // The output is capped at n units, as many as the input has characters:
    // a character outside the basic plane needs two, so a string with such
    // characters loses its tail rather than overrunning the destination.
    for (size_t i = 0; i < n; i++) {
        uint32_t c = static_cast<uint32_t>(source[i]);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x10000) {
            if (out + 1 > n)
                break;
            destination[out++] = static_cast<unsigned short>(c);
        } else {
            if (out + 2 > n)
                break;
            c -= 0x10000;
            destination[out++] = static_cast<unsigned short>(0xD800 + (c >> 10));
            destination[out++] = static_cast<unsigned short>(0xDC00 + (c & 0x3FF));
        }
    }
    while (out <= n)
        destination[out++] = 0;
}

char* safeStrCpy(char* destination, int size, char const* source) {
    if (!destination || size < 1)
        return destination;
    int i = 0;
    if (source) {
        for (; i < size - 1 && source[i] != 0; i++)
            destination[i] = source[i];
    }
    destination[i] = 0;
    return destination;
}

wchar_t* safeWcscat(wchar_t* destination, int size, wchar_t const* source) {
    if (!destination || size < 1)
        return destination;
    int length = 0;
    while (length < size && destination[length] != 0)
        length++;
    // An unterminated destination has no end to append at; it is only
    // terminated, within its size.
    if (length == size) {
        destination[size - 1] = 0;
        return destination;
    }
    if (source) {
        for (int i = 0; length < size - 1 && source[i] != 0; i++)
            destination[length++] = source[i];
    }
    destination[length] = 0;
    return destination;
}

size_t UTF16Length(const unsigned short* text, size_t limit) {
    size_t n = 0;
    if (text) {
        while (n < limit && text[n] != 0)
            n++;
    }
    return n;
}

namespace {

// The bytes of one unit or surrogate pair at path[i] into bytes[], their
// count into *n, and the units taken; 0 for a surrogate that carries no
// character and no escaped byte.
size_t PathUnitToBytes(const unsigned short* path, size_t i, unsigned char bytes[4], size_t* n) {
    uint32_t c = path[i];
    size_t units = 1;
    if (c >= keo::kEscapedByteFirst && c <= keo::kEscapedByteLast) {
        bytes[0] = static_cast<unsigned char>(0x80 + (c - keo::kEscapedByteFirst));
        *n = 1;
        return 1;
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
        const uint32_t low = path[i + 1];
        if (low < 0xDC00 || low > 0xDFFF)
            return 0;
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        units = 2;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
        return 0;
    }
    if (c < 0x80) {
        bytes[0] = static_cast<unsigned char>(c);
        *n = 1;
    } else if (c < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        *n = 2;
    } else if (c < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        *n = 3;
    } else {
        bytes[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
        bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        bytes[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        *n = 4;
    }
    return units;
}

// Whether the bytes, read back as a name, give exactly `path`: escaped
// bytes that form UTF-8 (U+DCC3 U+DCA9 is "\xC3\xA9", which reads as U+00E9)
// would open the file that the character names.
bool ReadsBackAs(const unsigned char* bytes, size_t n, const unsigned short* path) {
    size_t unit = 0;
    for (size_t i = 0; i < n;) {
        uint16_t units[2];
        size_t count = 0;
        i += keo::pathStepToUTF16(bytes + i, n - i, units, &count);
        for (size_t k = 0; k < count; ++k)
            if (path[unit++] != units[k])
                return false;
    }
    return path[unit] == 0;
}

} // namespace

bool ConvertUTF16PathToUTF8(const unsigned short* path, char* out, size_t outSize) {
    if (!out || outSize == 0)
        return false;
    out[0] = 0;
    if (!path)
        return false;
    size_t used = 0;
    for (size_t i = 0; path[i] != 0;) {
        unsigned char bytes[4];
        size_t n = 0;
        const size_t units = PathUnitToBytes(path, i, bytes, &n);
        // A path that does not fit is refused whole: a cut path could name
        // a different file.
        if (units == 0 || n > outSize - 1 - used) {
            out[0] = 0;
            return false;
        }
        std::memcpy(out + used, bytes, n);
        used += n;
        i += units;
    }
    out[used] = 0;
    if (!ReadsBackAs(reinterpret_cast<const unsigned char*>(out), used, path)) {
        out[0] = 0;
        return false;
    }
    return true;
}
