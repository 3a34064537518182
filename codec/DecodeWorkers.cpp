// The decode workers: a claim flag, a one-job hand-over and a doorbell each.
#include "codec/DecodeWorkers.h"

#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// A worker's job, as the caller and the worker hand it to each other:
// posted by the caller, taken (running) by the worker, done, then idle again
// when the caller has seen it done. A posted job the worker has not taken
// can be called off by the caller, back to idle; a running one asleep in a
// wait can be abandoned: the caller makes it idle and gives the worker back
// at once, and the worker, woken, unwinds the old job before the next.
enum JobState : int { kIdle, kPosted, kRunning, kDone };

std::atomic<int> g_setting{kKEODecodeThreadsAuto};

// Claims still to refuse, and how many the next late job makes it.
std::atomic<int> g_claimsToRefuse{0};
std::atomic<int> g_restLength{0};
constexpr int kFirstRest = 8;
constexpr int kLongestRest = 512;

// Frames being decoded in the process, on callers and whole-frame jobs.
std::atomic<int> g_framesDecoding{0};

int processorCount() {
    static const int count = [] {
        const long online = sysconf(_SC_NPROCESSORS_ONLN);
        return online < 1 ? 1
                          : (online > kKEOMaxDecodeThreads ? kKEOMaxDecodeThreads : int(online));
    }();
    return count;
}

void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

} // namespace

struct KEODecodeWorker {
    std::mutex lock;
    std::condition_variable wake;     // the worker sleeps on it
    std::condition_variable finished; // a caller waiting for kDone sleeps on it
    unsigned rings = 0;               // under lock: every wake-up call counts one
    bool callerWaits = false;         // under lock
    bool quit = false;                // under lock
    bool abandoned = false;           // under lock: the caller left a sleeping job

    std::atomic<bool> claimed{false};
    std::atomic<int> state{kIdle};
    // What the worker sleeps for inside a job (KEOWorkerWaitFor); set and
    // cleared under lock.
    std::atomic<bool> sleeping{false};
    std::atomic<uint32_t> want{0};

    // Written by the caller before the job is posted, read by the worker
    // after it has taken it.
    void (*run)(void*) = nullptr;
    void* arg = nullptr;

    keo::ByteBuffer scratch[4]; // the claimant's only
    int nextScratch = 0;

    std::thread thread;

    ~KEODecodeWorker() {
        for (keo::ByteBuffer& buffer : scratch)
            keo::release(buffer);
    }

    void ring() {
        {
            std::lock_guard<std::mutex> guard(lock);
            ++rings;
        }
        wake.notify_one();
    }

    // Sleeps until the next ring; `guard` holds `lock`.
    void sleepLocked(std::unique_lock<std::mutex>& guard) {
        const unsigned seen = rings;
        wake.wait(guard, [&] { return rings != seen; });
    }

    void loop() {
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(lock);
                while (!quit && state.load(std::memory_order_acquire) != kPosted)
                    sleepLocked(guard);
                if (quit)
                    return;
            }
            int expected = kPosted;
            // The caller may have called the job off meanwhile.
            if (!state.compare_exchange_strong(expected, kRunning, std::memory_order_acq_rel))
                continue;
            run(arg);
            std::lock_guard<std::mutex> guard(lock);
            if (abandoned) {
                // Its caller gave the worker back when it left the job: the
                // state is no longer this job's, and a new one may be posted.
                abandoned = false;
                continue;
            }
            state.store(kDone, std::memory_order_release);
            if (callerWaits)
                finished.notify_one();
        }
    }
};

namespace {

// One per process; a forked child makes its own and leaves its parent's
// alone (its threads are not in the child, and its locks may be held).
struct Pool {
    pid_t owner = 0;
    int started = 0;
    KEODecodeWorker workers[kKEOMaxDecodeThreads - 1];

    void start(int count) {
        owner = getpid();
        for (int i = 0; i < count; ++i) {
            try {
                workers[i].thread = std::thread([worker = &workers[i]] { worker->loop(); });
            } catch (...) {
                break; // a thread that cannot be started leaves the rest out too
            }
            ++started;
        }
    }

    ~Pool() {
        if (owner != getpid())
            return;
        for (int i = 0; i < started; ++i) {
            {
                std::lock_guard<std::mutex> guard(workers[i].lock);
                workers[i].quit = true;
                ++workers[i].rings;
            }
            workers[i].wake.notify_one();
        }
        for (int i = 0; i < started; ++i)
            workers[i].thread.join();
    }
};

std::mutex g_poolLock;
Pool* g_pool = nullptr;

// Joins the workers at exit or unload, while their code is still there; and
// holds the pool's lock across a fork, so that a child forked while another
// thread claimed a worker does not find it locked for good.
struct PoolShutdown {
    PoolShutdown() {
        pthread_atfork([] { g_poolLock.lock(); }, [] { g_poolLock.unlock(); },
                       [] { g_poolLock.unlock(); });
    }
    ~PoolShutdown() {
        std::lock_guard<std::mutex> guard(g_poolLock);
        if (g_pool && g_pool->owner == getpid())
            delete g_pool;
        g_pool = nullptr;
    }
} g_poolShutdown;

Pool* pool() {
    std::lock_guard<std::mutex> guard(g_poolLock);
    if (g_pool == nullptr || g_pool->owner != getpid()) {
        // A parent's pool is dropped, not destroyed.
        Pool* fresh = new (std::nothrow) Pool;
        if (fresh == nullptr)
            return nullptr;
        fresh->start(processorCount() - 1);
        g_pool = fresh;
    }
    return g_pool;
}

} // namespace

void KEOSetDecodeThreads(int threads) {
    if (threads < 0)
        threads = kKEODecodeThreadsAuto;
    g_setting.store(threads > kKEOMaxDecodeThreads ? kKEOMaxDecodeThreads : threads);
}

int KEOGetDecodeThreads() {
    return g_setting.load();
}

int KEOAllowedDecodeThreads() {
    const int setting = g_setting.load();
    const int cores = processorCount();
    return setting == kKEODecodeThreadsAuto ? cores : (setting < cores ? setting : cores);
}

void KEODecodeWorkerLate() {
    int rest = g_restLength.load(std::memory_order_relaxed);
    rest = rest == 0 ? kFirstRest : (rest < kLongestRest ? 2 * rest : kLongestRest);
    g_restLength.store(rest, std::memory_order_relaxed);
    g_claimsToRefuse.store(rest, std::memory_order_relaxed);
}

void KEODecodeWorkerOnTime() {
    g_restLength.store(0, std::memory_order_relaxed);
}

void KEOFrameDecodeBegins() {
    g_framesDecoding.fetch_add(1, std::memory_order_relaxed);
}

void KEOFrameDecodeEnds() {
    g_framesDecoding.fetch_sub(1, std::memory_order_relaxed);
}

KEODecodeWorker* KEOClaimDecodeWorker() {
    const int allowed = KEOAllowedDecodeThreads() - 1;
    // Read without ordering: a frame that began a moment ago and is not
    // counted yet costs one frame's oversubscription, nothing more.
    if (allowed < 1 || g_framesDecoding.load(std::memory_order_relaxed) > allowed)
        return nullptr;
    // Counted down without a lock: a claim more or less refused is no harm.
    if (g_setting.load(std::memory_order_relaxed) == kKEODecodeThreadsAuto &&
        g_claimsToRefuse.load(std::memory_order_relaxed) > 0) {
        g_claimsToRefuse.fetch_sub(1, std::memory_order_relaxed);
        return nullptr;
    }
    Pool* p = pool();
    if (p == nullptr)
        return nullptr;
    for (int i = 0; i < allowed && i < p->started; ++i) {
        bool free = false;
        if (p->workers[i].claimed.compare_exchange_strong(free, true, std::memory_order_acquire))
            return &p->workers[i];
    }
    return nullptr;
}

void KEOPostDecodeJob(KEODecodeWorker* worker, void (*run)(void*), void* arg, bool wakeNow) {
    worker->run = run;
    worker->arg = arg;
    worker->state.store(kPosted, std::memory_order_release);
    if (wakeNow)
        worker->ring();
}

void KEORingWorker(KEODecodeWorker* worker) {
    worker->ring();
}

namespace {

// Waits for a running job to end: most end within a band of rows of the
// caller's call, so a short spin saves the sleep and the wake-up call.
void waitUntilDone(KEODecodeWorker* worker) {
    for (int i = 0; i < 500 && worker->state.load(std::memory_order_acquire) != kDone; ++i)
        cpuRelax();
    if (worker->state.load(std::memory_order_acquire) == kDone)
        return;
    std::unique_lock<std::mutex> guard(worker->lock);
    worker->callerWaits = true;
    worker->finished.wait(guard,
                          [&] { return worker->state.load(std::memory_order_acquire) == kDone; });
    worker->callerWaits = false;
}

} // namespace

bool KEOEndDecodeJob(KEODecodeWorker* worker) {
    int expected = kPosted;
    const bool calledOff =
        worker->state.compare_exchange_strong(expected, kIdle, std::memory_order_acq_rel);
    if (calledOff || expected == kIdle) {
        worker->claimed.store(false, std::memory_order_release);
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(worker->lock);
        if (worker->sleeping.load(std::memory_order_relaxed)) {
            // The worker is given back at once: the next decode must not
            // find it claimed while it wakes only to unwind this job.
            worker->abandoned = true;
            ++worker->rings;
            worker->wake.notify_one();
            worker->state.store(kIdle, std::memory_order_relaxed);
            worker->claimed.store(false, std::memory_order_release);
            return false;
        }
    }
    waitUntilDone(worker);
    worker->state.store(kIdle, std::memory_order_relaxed);
    worker->claimed.store(false, std::memory_order_release);
    return true;
}

bool KEOWorkerWaitFor(KEODecodeWorker* worker, const std::atomic<uint32_t>& progress,
                      uint32_t want) {
    if (progress.load(std::memory_order_acquire) >= want)
        return true;
    std::unique_lock<std::mutex> guard(worker->lock);
    // Stored before the progress is looked at again, as the producer stores
    // the progress before it looks at these: one of the two sees the other.
    worker->want.store(want, std::memory_order_seq_cst);
    worker->sleeping.store(true, std::memory_order_seq_cst);
    // Once abandoned, `progress` may be gone: it is not read again.
    while (!worker->abandoned && progress.load(std::memory_order_seq_cst) < want)
        worker->sleepLocked(guard);
    worker->sleeping.store(false, std::memory_order_relaxed);
    return !worker->abandoned;
}

void KEOReportProgress(KEODecodeWorker* worker, uint32_t progress) {
    if (worker->sleeping.load(std::memory_order_seq_cst) &&
        progress >= worker->want.load(std::memory_order_seq_cst))
        worker->ring();
}

keo::ByteBuffer* KEOWorkerScratch(KEODecodeWorker* worker) {
    keo::ByteBuffer* buffer = &worker->scratch[worker->nextScratch];
    worker->nextScratch = (worker->nextScratch + 1) % 4;
    return buffer;
}
