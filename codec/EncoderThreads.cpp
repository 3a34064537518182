// Encoder workers: named-semaphore hand-over, banded frame encodes, and the
// process-wide pool that the frame encoder uses.
#include "codec/EncoderThreads.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "codec/BandedEncode.h"
#include "codec/DXT24Encode.h"

namespace {

std::atomic<KEOSemOpenFunction> g_semOpen{nullptr};
std::atomic<KEOThreadCreateFunction> g_threadCreate{nullptr};

sem_t* openSemaphore(const char* name, int oflag, mode_t mode, unsigned value) {
    const KEOSemOpenFunction hook = g_semOpen.load();
    if (hook)
        return hook(name, oflag, mode, value);
    return sem_open(name, oflag, mode, value);
}

int createThread(pthread_t* thread, void* (*start)(void*), void* arg) {
    const KEOThreadCreateFunction hook = g_threadCreate.load();
    if (hook)
        return hook(thread, nullptr, start, arg);
    return pthread_create(thread, nullptr, start, arg);
}

// A signal may interrupt a wait; only a real failure ends it.
void waitSemaphore(sem_t* handle) {
    while (sem_wait(handle) != 0 && errno == EINTR) {
    }
}

// Process that started the threads of each pool entry: a forked child has
// the records but not the threads, and must not join what it does not own.
pid_t g_workersPid = 0;

} // namespace

KEOSemaphore::KEOSemaphore() : handle(nullptr) {
    static std::atomic<int> semaphoreCount{0};
    const int number = ++semaphoreCount;

    char name[1024];
    std::snprintf(name, sizeof name, "keostart_%d_%d", static_cast<int>(getpid()), number);
    // A leftover of a crashed process with a recycled pid would make the
    // exclusive create fail.
    sem_unlink(name);
    sem_t* opened = openSemaphore(name, O_CREAT | O_EXCL, 0777, 0);
    if (opened == SEM_FAILED || opened == nullptr)
        return; // this worker is simply unavailable; a plug-in must not end its host
    // The open handle keeps the semaphore alive; without its name nothing is
    // left behind however the process ends.
    sem_unlink(name);
    handle = opened;
}

KEOSemaphore::~KEOSemaphore() {
    if (handle)
        sem_close(handle);
    handle = nullptr;
}

ThreadInfo::ThreadInfo() : quit(false), running(false), frame(nullptr) {}

void ThreadInfo::RunThread() {
    for (;;) {
        waitSemaphore(startSemaphore.handle);
        // Read only after the wait, which orders it after the poster's write.
        if (quit)
            break;
        KEOEncodeBands(frame);
        sem_post(doneSemaphore.handle);
    }
}

void* compressThread(void* record) {
    static_cast<ThreadInfo*>(record)->RunThread();
    return nullptr;
}

int StartWorkers(ThreadInfo* infos, pthread_t* ids, int count) {
    int running = 0;
    for (int i = 0; i < count; ++i) {
        ThreadInfo& info = infos[i];
        if (!info.running && info.startSemaphore.handle && info.doneSemaphore.handle) {
            info.quit = false;
            if (createThread(&ids[i], compressThread, &info) == 0)
                info.running = true;
        }
        if (info.running)
            ++running;
    }
    if (running > 0)
        g_workersPid = getpid();
    return running;
}

void StopWorkers(ThreadInfo* infos, pthread_t* ids, int count) {
    const bool ownThreads = g_workersPid == getpid();
    for (int i = 0; i < count; ++i) {
        if (infos[i].running && ownThreads) {
            infos[i].quit = true;
            sem_post(infos[i].startSemaphore.handle);
        }
    }
    for (int i = 0; i < count; ++i) {
        if (infos[i].running && ownThreads)
            pthread_join(ids[i], nullptr);
        infos[i].running = false;
    }
}

void EncodeBandsOnWorkers(ThreadInfo* infos, int count, int threads, KEOBandedFrame* frame) {
    ThreadInfo* ready[kKEOMaxEncodeThreads];
    int n = 0;
    for (int i = 0; i < count && n < kKEOMaxEncodeThreads && n < threads && n < frame->bandCount;
         ++i)
        if (infos[i].running)
            ready[n++] = &infos[i];
    if (n == 0) {
        KEOEncodeBands(frame);
        return;
    }
    for (int i = 0; i < n; ++i) {
        ready[i]->frame = frame;
        sem_post(ready[i]->startSemaphore.handle);
    }
    for (int i = 0; i < n; ++i) {
        waitSemaphore(ready[i]->doneSemaphore.handle);
        ready[i]->frame = nullptr;
    }
}

// Defined beside stbCompressARGB32_to24_threaded, which the frame encoder
// calls: a static link that takes CompressDXTFrame takes this object file and
// with it the initialiser that builds the records at load time.
ThreadInfo g_threadInfos[kKEOMaxEncodeThreads];
pthread_t g_threadIds[kKEOMaxEncodeThreads];
int g_numDXT24Threads = 0;

namespace {

// The pool is shared and its records hold one job each: one threaded encode
// at a time.
std::mutex g_poolLock;

// Defined after g_threadInfos, so destroyed before it: the workers quit and
// are joined while their records and semaphores still exist, and no thread is
// left running code of an unloaded module.
struct WorkerShutdown {
    ~WorkerShutdown() {
        std::lock_guard<std::mutex> lock(g_poolLock);
        StopWorkers(g_threadInfos, g_threadIds, kKEOMaxEncodeThreads);
        g_numDXT24Threads = 0;
    }
} g_workerShutdown;

} // namespace

void SetupThreads(int count) {
    if (count < 1)
        count = 1;
    if (count > kKEOMaxEncodeThreads)
        count = kKEOMaxEncodeThreads;
    g_numDXT24Threads = StartWorkers(g_threadInfos, g_threadIds, count);
}

namespace {

// The first threaded encode of either kind starts the workers, with the
// count it asks for; later ones use those. Called under g_poolLock.
void startPoolOnce(int threads) {
    static bool threadsReady = false;
    if (!threadsReady) {
        threadsReady = true;
        SetupThreads(threads);
    }
}

} // namespace

void stbCompressARGB32_to24_threaded(int threads, unsigned char* destination,
                                     const unsigned char* source, int width, int height,
                                     int rowBytes, bool alpha) {
    if (threads < 2) {
        _stbCompressARGB32_to24(destination, source, width, height, rowBytes, alpha);
        return;
    }
    KEOBandedFrame frame;
    frame.source = source;
    frame.width = width;
    frame.height = height;
    frame.rowBytes = rowBytes;
    frame.layout = alpha ? kKEOLayoutDXT24Alpha : kKEOLayoutDXT24;
    frame.compress = false;
    frame.blocks = destination;
    frame.packed = nullptr;
    frame.packedLengths = nullptr;
    if (!KEOPlanBands(&frame))
        return; // nothing to encode, as for the single-thread encode
    KEOEncodeBandsThreaded(threads, &frame);
}

void KEOEncodeBandsThreaded(int threads, KEOBandedFrame* frame) {
    if (threads < 2) {
        KEOEncodeBands(frame);
        return;
    }
    std::lock_guard<std::mutex> lock(g_poolLock);
    startPoolOnce(threads);
    EncodeBandsOnWorkers(g_threadInfos, kKEOMaxEncodeThreads, threads, frame);
}

void KEOSetSemOpenForTesting(KEOSemOpenFunction function) {
    g_semOpen.store(function);
}

void KEOSetThreadCreateForTesting(KEOThreadCreateFunction function) {
    g_threadCreate.store(function);
}

int KEODefaultEncodeThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores < 1 ? 1 : (cores > kKEOMaxEncodeThreads ? kKEOMaxEncodeThreads : int(cores));
}
