// Small string utilities of the host layer: UTF-16 host paths, wide strings
// and bounded copies.
#pragma once

#include <cstddef>
#include <cwchar>

// Copies UTF-16 units, widened, until a zero unit has been copied or
// maxCount units have been; in the second case no terminator is written.
void copyConvertUTF16IntoStringLiteral(unsigned short* source, wchar_t* destination, int maxCount);

// Converts the UTF-32 string to UTF-16 into `destination`, which must hold
// wcslen(source) + 1 units. At most wcslen(source) units are written (a
// character that would not fit whole is left out, an invalid code point
// becomes U+FFFD), the rest up to and including that index is zero.
void copyConvertStringLiteralIntoUTF16(wchar_t const* source, unsigned short* destination);

// Bounded copy and append: never write past `size` elements of the
// destination, which is always terminated when size is at least 1.
char* safeStrCpy(char* destination, int size, char const* source);
wchar_t* safeWcscat(wchar_t* destination, int size, wchar_t const* source);

// Converts a zero-terminated UTF-16 path to the file system's bytes in
// full, without regard to the process locale: characters as UTF-8, the
// lone surrogates U+DC80..U+DCFF as the bytes 0x80..0xFF they carry
// (base/PathText.h). False (and `out` holding an empty string when
// outSize > 0) for a null path, any other unpaired surrogate, escaped
// bytes that would read back as a character (another file's name), or a
// result that needs more than outSize - 1 bytes.
bool ConvertUTF16PathToUTF8(const unsigned short* path, char* out, size_t outSize);

// Units before the terminating zero, counting no further than `limit`.
size_t UTF16Length(const unsigned short* text, size_t limit);
