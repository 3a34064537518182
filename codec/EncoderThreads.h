// Worker threads for frame encoding.
//
// A frame is cut into bands of whole block rows (BandedEncode.h); each worker
// takes bands of the frame in turn until none is left and encodes them into
// their own parts of the destination, so the bytes equal those of a
// single-thread encode whichever worker takes which band.
//
// Up to 32 workers exist per process. Their records, g_threadInfos, are built
// by a static initialiser when the module is loaded, each with two named
// semaphores: the encoding thread posts a worker's start semaphore after
// filling in its job, and the worker posts its done semaphore when the band is
// written. These posts and waits order every memory access of the hand-over.
// The threads are started by the first encode that asks for two or more, and
// are told to quit and joined before the records are destroyed (process exit
// or module unload).
//
// A worker whose semaphores cannot be created or whose thread cannot start is
// left out; with no worker at all the calling thread encodes the frame.
#pragma once

#include <pthread.h>
#include <semaphore.h>
#include <sys/types.h>

struct KEOBandedFrame;

enum { kKEOMaxEncodeThreads = 32 };

// A named counting semaphore "keostart_<pid>_<n>", n counting every semaphore
// of the process from 1. The name is removed as soon as the semaphore is open,
// so none outlives the process; handle is null when it could not be created.
struct KEOSemaphore {
    sem_t* handle;

    KEOSemaphore();
    ~KEOSemaphore();
    KEOSemaphore(const KEOSemaphore&) = delete;
    KEOSemaphore& operator=(const KEOSemaphore&) = delete;
};

// One worker. Its job, the frame whose bands it takes, is written by the
// encoding thread before it posts startSemaphore and not touched again until
// doneSemaphore is posted.
struct ThreadInfo {
    KEOSemaphore startSemaphore;
    KEOSemaphore doneSemaphore;
    bool quit;    // read by the worker after each start; set only to shut down
    bool running; // a thread for this record waits on startSemaphore
    KEOBandedFrame* frame;

    // Creates startSemaphore, then doneSemaphore; destruction closes them in
    // the opposite order.
    ThreadInfo();

    // The worker loop: wait for a job, encode bands, report it done.
    void RunThread();
};

extern ThreadInfo g_threadInfos[kKEOMaxEncodeThreads];
extern pthread_t g_threadIds[kKEOMaxEncodeThreads];
// Workers started in g_threadInfos (0 until the first threaded encode).
extern int g_numDXT24Threads;

// Thread entry point: runs RunThread on the ThreadInfo it is given.
void* compressThread(void* record);

// Starts workers for the first count records of g_threadInfos (count clamped
// to 1..32) and stores the number running in g_numDXT24Threads.
void SetupThreads(int count);

// The encoder threads a caller gets when it leaves the count to us: one per
// core, 1 to kKEOMaxEncodeThreads (keo export, keoenc, keo.write).
int KEODefaultEncodeThreads();

// Encodes like _stbCompressARGB32_to24, in the frame encoder's bands on up
// to `threads` workers. threads below 2 encode on the calling thread; the
// first call with 2 or more starts that many workers (at most 32), and the
// pool never grows afterwards. Only one threaded encode runs at a time;
// concurrent callers wait.
void stbCompressARGB32_to24_threaded(int threads, unsigned char* destination,
                                     const unsigned char* source, int width, int height,
                                     int rowBytes, bool alpha);

// Encodes the frame's bands on up to `threads` workers (fewer when fewer
// run, or when the frame has fewer bands); threads below 2 encode on the
// calling thread. The first call that asks for 2 or more starts the workers,
// as for DXT24, and the pool never grows afterwards. Only one threaded
// encode runs at a time; concurrent callers wait.
void KEOEncodeBandsThreaded(int threads, KEOBandedFrame* frame);

// The same machinery on any set of records, for pools other than the global
// one. StartWorkers starts a thread for every record among the first count
// that has both semaphores and none yet, and returns how many run.
// EncodeBandsOnWorkers encodes the bands of `frame` on at most `threads` of
// the running records (on the calling thread when none runs). StopWorkers
// tells running workers to quit, releases and joins them.
int StartWorkers(ThreadInfo* infos, pthread_t* ids, int count);
void EncodeBandsOnWorkers(ThreadInfo* infos, int count, int threads, KEOBandedFrame* frame);
void StopWorkers(ThreadInfo* infos, pthread_t* ids, int count);

// Test seams: replace sem_open and pthread_create to make them fail. Null
// restores the system functions.
typedef sem_t* (*KEOSemOpenFunction)(const char* name, int oflag, mode_t mode, unsigned value);
typedef int (*KEOThreadCreateFunction)(pthread_t* thread, const pthread_attr_t* attr,
                                       void* (*start)(void*), void* arg);
void KEOSetSemOpenForTesting(KEOSemOpenFunction function);
void KEOSetThreadCreateForTesting(KEOThreadCreateFunction function);
