// The 64-bit stdio wrappers behind LargeFp.
#include "container/LargeFp.h"

#include <sys/stat.h>
#include <sys/types.h>

namespace {

// fseeko/ftello take off_t, which is 64 bits on every platform we build for
// (the build enables large-file offsets on 32-bit Linux through _FILE_OFFSET_BITS).
static_assert(sizeof(off_t) >= 8, "off_t must hold 64-bit file positions");

LargeFp* adopt(FILE* stream) {
    LargeFp* fp = new LargeFp{0, nullptr};
    if (stream) {
        fp->stream = stream;
        fp->fd = fileno(stream);
        // A memory stream has no descriptor; keep `fd` non-zero so callers
        // that test it see the open succeed.
        if (fp->fd <= 0)
            fp->fd = -1;
    }
    return fp;
}

} // namespace

LargeFp* fopen_L(const char* path, const char* mode) {
    return adopt(path && mode ? std::fopen(path, mode) : nullptr);
}

LargeFp* fmemopen_L(const void* data, size_t size) {
    // fmemopen refuses a zero-length buffer; an empty file is still a valid
    // (empty) input, so give it one readable byte that fileSize never counts.
    static const unsigned char empty[1] = {0};
    if (size == 0)
        return adopt(fmemopen(const_cast<unsigned char*>(empty), 1, "rb"));
    return adopt(fmemopen(const_cast<void*>(data), size, "rb"));
}

LargeFp* fadopt_L(FILE* stream) {
    return adopt(stream);
}

int fclose_L(LargeFp* fp) {
    if (!fp || !fp->stream)
        return 0;
    int rc = std::fclose(fp->stream);
    fp->stream = nullptr;
    fp->fd = 0;
    return rc;
}

int fseek_L(LargeFp* fp, int64_t offset, int whence) {
    if (!fp || !fp->stream)
        return 0;
    return fseeko(fp->stream, static_cast<off_t>(offset), whence);
}

size_t fread_L(void* buf, size_t size, size_t count, LargeFp* fp) {
    if (!fp || !fp->stream || !buf)
        return 0;
    return std::fread(buf, size, count, fp->stream);
}

size_t fwrite_L(const void* buf, size_t count, size_t size, LargeFp* fp) {
    if (!fp || !fp->stream || !buf)
        return 0;
    return std::fwrite(buf, size, count, fp->stream);
}

int64_t ftell_L(LargeFp* fp) {
    if (!fp || !fp->stream)
        return 0;
    off_t pos = ftello(fp->stream);
    return pos < 0 ? 0 : static_cast<int64_t>(pos);
}

int64_t fileSize(const char* path) {
    struct stat st;
    if (!path || stat(path, &st) != 0)
        return 0;
    return static_cast<int64_t>(st.st_size);
}
