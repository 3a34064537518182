// Runs a job on a thread whose stack is as small as a host's worker threads
// may have, so a test sees what a recursion deep enough to need the main
// thread's large stack would do there.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace keotest {

// False when no thread with such a stack could be made; the job has then not
// run.
inline bool runOnSmallStack(const std::function<void()>& job, size_t stackBytes = 256 * 1024) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    bool ok = pthread_attr_setstacksize(&attr, stackBytes) == 0;
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ok = ok && pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&job)) == 0;
    if (ok)
        pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    return ok;
}

} // namespace keotest
