// Memory for whole pictures, in huge pages where the system has them.
//
// The first write to fresh memory costs the kernel a page fault for every
// 4 KiB page. On the virtual machines this project is built and measured
// on that is about 12 us a page: 25 ms for one 1920x1080 picture, paid
// once for each of the few picture-sized buffers an export or a decode
// keeps, on the thread that first writes them, before their first frame.
// Marked for transparent huge pages, such a buffer takes a fault per 2 MiB
// instead, and its first touch costs a tenth as much. The memory is
// aligned to 2 MiB and rounded up to whole huge pages for that; smaller
// requests are plain malloc. Either is given back with std::free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace keo {

constexpr size_t kHugePageBytes = size_t(2) << 20;

// n bytes, not cleared; null when out of memory.
inline void* allocatePictureMemory(size_t n) {
    if (n < kHugePageBytes)
        return std::malloc(n ? n : 1);
    if (n > SIZE_MAX - kHugePageBytes)
        return nullptr;
    const size_t rounded = (n + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    void* memory = std::aligned_alloc(kHugePageBytes, rounded);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only advice: without huge pages the memory is as good, only slower
    // to touch the first time.
    if (memory)
        madvise(memory, rounded, MADV_HUGEPAGE);
#endif
    return memory;
}

// Asks for huge pages for the whole ones inside n bytes at `memory`,
// allocated elsewhere (a std::vector's) and not touched yet: only advice, as
// above.
inline void adviseHugePages(void* memory, size_t n) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const uintptr_t start = reinterpret_cast<uintptr_t>(memory);
    const uintptr_t first = (start + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    const uintptr_t end = (start + n) / kHugePageBytes * kHugePageBytes;
    if (memory && end > first)
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)memory;
    (void)n;
#endif
}

} // namespace keo
