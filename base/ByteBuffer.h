// A heap buffer that keeps its memory from one use to the next.
//
// Frame requests on an open movie need the same few megabytes over and over
// (the sample's bytes, the LZF output of a frame); keeping them between
// requests takes the allocator and the page faults of fresh memory off the
// request path. The buffer only grows, and only when a larger frame needs it;
// a picture-sized one in huge pages (PictureMemory.h).
#pragma once

#include <cstddef>
#include <cstdlib>

#include "base/PictureMemory.h"

namespace keo {

struct ByteBuffer {
    unsigned char* bytes = nullptr;
    size_t capacity = 0;
};

// At least n bytes (the contents are not kept when the buffer grows); null
// when the memory cannot be had, and then the buffer is as it was.
inline unsigned char* reserve(ByteBuffer& buffer, size_t n) {
    if (n <= buffer.capacity && buffer.bytes)
        return buffer.bytes;
    // Nothing to keep, so free and allocate rather than realloc's copy.
    unsigned char* grown = static_cast<unsigned char*>(allocatePictureMemory(n));
    if (!grown)
        return nullptr;
    std::free(buffer.bytes);
    buffer.bytes = grown;
    buffer.capacity = n;
    return grown;
}

inline void release(ByteBuffer& buffer) {
    std::free(buffer.bytes);
    buffer.bytes = nullptr;
    buffer.capacity = 0;
}

} // namespace keo
