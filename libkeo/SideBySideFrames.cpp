// The two fetching threads, their turns and how they stop.
#include "libkeo/SideBySideFrames.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace keo::lib {
namespace {

struct Shared {
    Shared(const std::vector<int>& i, bool o, const SideBySideUse& u)
        : indices(i), inOrder(o), use(u) {}
    const std::vector<int>& indices;
    bool inOrder;
    const SideBySideUse& use;
    std::atomic<size_t> nextToTake{0};
    std::mutex mutex;
    std::condition_variable changed;
    size_t nextToUse = 0;       // under mutex, with inOrder
    bool stopping = false;      // under mutex
    std::exception_ptr failure; // under mutex: the first thrown
};

void stop(Shared& s, std::exception_ptr failure) {
    {
        std::lock_guard<std::mutex> hold(s.mutex);
        if (!s.failure)
            s.failure = failure;
        s.stopping = true;
    }
    s.changed.notify_all();
}

bool stopping(Shared& s) {
    std::lock_guard<std::mutex> hold(s.mutex);
    return s.stopping;
}

// Waits until frame k is the next to be used; false when stopping instead.
bool awaitTurn(Shared& s, size_t k) {
    if (!s.inOrder)
        return true;
    std::unique_lock<std::mutex> lock(s.mutex);
    s.changed.wait(lock, [&] { return s.stopping || s.nextToUse == k; });
    return !s.stopping;
}

void endTurn(Shared& s) {
    if (!s.inOrder)
        return;
    {
        std::lock_guard<std::mutex> hold(s.mutex);
        ++s.nextToUse;
    }
    s.changed.notify_all();
}

void fetchAndUse(Shared& s, PluginSession& session, size_t k) {
    bool stopped = false;
    const int r = fetchFrameRows(session, s.indices[k], [&](const FrameRows& rows) {
        stopped = !awaitTurn(s, k);
        if (!stopped)
            s.use(k, 0, &rows);
    });
    if (r != 0) {
        stopped = !awaitTurn(s, k);
        if (!stopped)
            s.use(k, r, nullptr);
    }
    if (!stopped)
        endTurn(s);
}

void run(Shared& s, PluginSession& session, const std::function<bool()>* between) {
    try {
        while (!stopping(s)) {
            if (between && *between && !(*between)()) {
                stop(s, nullptr);
                return;
            }
            const size_t k = s.nextToTake.fetch_add(1);
            if (k >= s.indices.size())
                return;
            fetchAndUse(s, session, k);
        }
    } catch (...) {
        stop(s, std::current_exception());
    }
}

} // namespace

void fetchFramesSideBySide(PluginSession& first, PluginSession* second,
                           const std::vector<int>& indices, bool inOrder, const SideBySideUse& use,
                           const std::function<bool()>& between) {
    Shared s(indices, inOrder, use);
    std::thread helper;
    if (second && indices.size() > 1) {
        try {
            helper = std::thread([&] { run(s, *second, nullptr); });
        } catch (const std::system_error&) {
            // No thread to be had: the caller fetches every frame.
        }
    }
    run(s, first, &between);
    if (helper.joinable())
        helper.join();
    if (s.failure)
        std::rethrow_exception(s.failure);
}

} // namespace keo::lib
