// LargeFp: a stdio stream with 64-bit positions.
//
// Every byte the movie container reads or writes passes through these
// wrappers. A handle whose open failed has a null `stream` and `fd` 0; every
// operation on it does nothing and returns 0, so a caller that forgot to test
// the open still never touches a bad stream.
//
// The handle can wrap any stdio stream, including one made over a memory
// buffer (fmemopen_L), which lets the whole reader run on bytes in memory,
// or one whose bytes go wherever its maker sends them (fadopt_L), which lets
// the writer fill something other than a file.
//
// fopen64 is the C library's own where it has one (a plain fopen with
// 64-bit offsets); elsewhere it is defined below as just that. Nothing in the
// container uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct LargeFp {
    int32_t fd;   // descriptor number after a successful open, else 0
    FILE* stream; // null when the open failed
};

// Always returns a new handle (release with delete), also when the open
// failed; test `fd` or `stream` before use.
LargeFp* fopen_L(const char* path, const char* mode);
// A read-only handle over `size` bytes at `data`, which must outlive it.
LargeFp* fmemopen_L(const void* data, size_t size);
// A handle over a stream the caller opened (null gives a failed handle);
// the handle's close closes it.
LargeFp* fadopt_L(FILE* stream);
// Closes the stream; the handle itself stays for its owner to release.
int fclose_L(LargeFp* fp);
int fseek_L(LargeFp* fp, int64_t offset, int whence);
size_t fread_L(void* buf, size_t size, size_t count, LargeFp* fp);
// Note the argument order: (buffer, item count, item size); the container
// calls it as (buffer, bytes, 1) so the result is the byte count written.
size_t fwrite_L(const void* buf, size_t count, size_t size, LargeFp* fp);
int64_t ftell_L(LargeFp* fp);
// Size of the file at `path` in bytes, 0 when it cannot be examined.
int64_t fileSize(const char* path);

#if defined(__APPLE__)
// Every stdio offset is 64 bits there, so the plain open is the large one.
inline FILE* fopen64(const char* path, const char* mode) {
    return std::fopen(path, mode);
}
#endif
