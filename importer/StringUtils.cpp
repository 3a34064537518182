// UTF-16 host paths, wide strings and bounded copies.
#include "importer/StringUtils.h"

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

bool ConvertUTF16PathToUTF8(const unsigned short* path, char* out, size_t outSize) {
    if (!out || outSize == 0)
        return false;
    out[0] = 0;
    if (!path)
        return false;
    size_t used = 0;
    for (size_t i = 0; path[i] != 0; i++) {
        uint32_t c = path[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            uint32_t low = path[i + 1];
            if (low < 0xDC00 || low > 0xDFFF) {
                out[0] = 0;
                return false;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i++;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            out[0] = 0;
            return false;
        }
        unsigned char bytes[4];
        size_t n;
        if (c < 0x80) {
            bytes[0] = static_cast<unsigned char>(c);
            n = 1;
        } else if (c < 0x800) {
            bytes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
            bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 2;
        } else if (c < 0x10000) {
            bytes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 3;
        } else {
            bytes[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 4;
        }
        // A path that does not fit is refused whole: a cut path could name
        // a different file.
        if (n > outSize - 1 - used) {
            out[0] = 0;
            return false;
        }
        std::memcpy(out + used, bytes, n);
        used += n;
    }
    out[used] = 0;
    return true;
}
