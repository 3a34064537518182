// The host's memory functions (pointers and handles) and Memory Manager Suite.
//
// Blocks are filled with 0xA5 when handed out, like memory that is not
// cleared, so a plug-in that forgets to zero what it takes is caught. Every
// pointer and handle is looked up before use: an unknown one is recorded as a
// violation and never dereferenced.
#include "HostState.h"

#include <cstring>

namespace keo::host {
namespace {

constexpr uint8_t kFreshFill = 0xA5;

char* newBlock(uint32_t size) {
    // A zero-byte request still gets a distinct block, as the host's would.
    char* block = new char[size ? size : 1];
    std::memset(block, kFreshFill, size ? size : 1);
    return block;
}

bool sizeAllowed(StandInHost* host, uint32_t size) {
    return size <= host->config.maxBlockBytes;
}

HandleRec* findHandle(StandInHost* host, PrMemoryHandle h, const char* op) {
    auto it = host->handles.find(h);
    if (it != host->handles.end())
        return it->second;
    recordViolation(host, std::string(op) + " on a handle the host did not hand out");
    return nullptr;
}

} // namespace

PrMemoryPtr memNewPtr(StandInHost* host, uint32_t size) {
    if (!host)
        return nullptr;
    Lock lock(host->mutex);
    if (!sizeAllowed(host, size) || !allowAllocation(host))
        return nullptr;
    char* block = newBlock(size);
    host->ptrs[block] = size;
    host->count.ptrsCreated++;
    return block;
}

void memSetPtrSize(StandInHost* host, PrMemoryPtr* ptr, uint32_t size) {
    if (!host || !ptr)
        return;
    Lock lock(host->mutex);
    auto it = host->ptrs.find(*ptr);
    if (it == host->ptrs.end()) {
        recordViolation(host, "setPtrSize on a pointer the host did not hand out");
        return;
    }
    if (!sizeAllowed(host, size))
        return;
    char* block = newBlock(size);
    std::memcpy(block, *ptr, it->second < size ? it->second : size);
    delete[] * ptr;
    host->ptrs.erase(it);
    host->ptrs[block] = size;
    *ptr = block;
}

uint32_t memGetPtrSize(StandInHost* host, PrMemoryPtr ptr) {
    if (!host)
        return 0;
    Lock lock(host->mutex);
    auto it = host->ptrs.find(ptr);
    return it == host->ptrs.end() ? 0 : it->second;
}

void memDisposePtr(StandInHost* host, PrMemoryPtr ptr) {
    if (!host || !ptr)
        return;
    Lock lock(host->mutex);
    auto it = host->ptrs.find(ptr);
    if (it == host->ptrs.end()) {
        recordViolation(host, "a pointer disposed that the host did not hand out "
                              "(or disposed twice)");
        return;
    }
    delete[] ptr;
    host->ptrs.erase(it);
    host->count.ptrsDisposed++;
}

PrMemoryHandle memNewHandle(StandInHost* host, uint32_t size) {
    if (!host)
        return nullptr;
    Lock lock(host->mutex);
    if (!sizeAllowed(host, size) || !allowAllocation(host))
        return nullptr;
    HandleRec* rec = new HandleRec{newBlock(size), size, 0};
    host->handles[&rec->block] = rec;
    host->count.handlesCreated++;
    return &rec->block;
}

int32_t memSetHandleSize(StandInHost* host, PrMemoryHandle h, uint32_t size) {
    if (!host)
        return -1;
    Lock lock(host->mutex);
    HandleRec* rec = findHandle(host, h, "setHandleSize");
    if (!rec)
        return -1;
    // A locked block must stay where it is, so it cannot be moved to grow.
    if (rec->locks > 0 && size > rec->size)
        return -1;
    if (!sizeAllowed(host, size))
        return -1;
    char* block = newBlock(size);
    std::memcpy(block, rec->block, rec->size < size ? rec->size : size);
    delete[] rec->block;
    rec->block = block;
    rec->size = size;
    return 0;
}

uint32_t memGetHandleSize(StandInHost* host, PrMemoryHandle h) {
    if (!host)
        return 0;
    Lock lock(host->mutex);
    HandleRec* rec = findHandle(host, h, "getHandleSize");
    return rec ? rec->size : 0;
}

void memDisposeHandle(StandInHost* host, PrMemoryHandle h) {
    if (!host || !h)
        return;
    Lock lock(host->mutex);
    HandleRec* rec = findHandle(host, h, "disposeHandle (a second disposal?)");
    if (!rec)
        return;
    host->handles.erase(h);
    delete[] rec->block;
    delete rec;
    host->count.handlesDisposed++;
}

void memLockHandle(StandInHost* host, PrMemoryHandle h) {
    if (!host)
        return;
    Lock lock(host->mutex);
    if (HandleRec* rec = findHandle(host, h, "lockHandle"))
        rec->locks++;
}

void memUnlockHandle(StandInHost* host, PrMemoryHandle h) {
    if (!host)
        return;
    Lock lock(host->mutex);
    HandleRec* rec = findHandle(host, h, "unlockHandle");
    if (!rec)
        return;
    if (rec->locks == 0) {
        recordViolation(host, "unlockHandle on a handle that is not locked");
        return;
    }
    rec->locks--;
}

void freeAllMemory(StandInHost* host) {
    for (auto& entry : host->handles) {
        delete[] entry.second->block;
        delete entry.second;
    }
    host->handles.clear();
    for (auto& entry : host->ptrs)
        delete[] entry.first;
    host->ptrs.clear();
}

} // namespace keo::host
