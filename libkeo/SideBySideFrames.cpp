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

// A frame fetched and not yet used: its rows, null when the fetch failed.
struct Held {
    size_t k;
    int result;
    const FrameRows* rows;
};

bool isTurnOf(Shared& s, size_t k) {
    std::lock_guard<std::mutex> hold(s.mutex);
    return s.nextToUse == k;
}

// Uses the frame when its turn comes (at once without inOrder), then gives
// the turn on; false when stopping instead.
bool useInTurn(Shared& s, const Held& h) {
    if (s.inOrder) {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.changed.wait(lock, [&] { return s.stopping || s.nextToUse == h.k; });
        if (s.stopping)
            return false;
    }
    s.use(h.k, h.result, h.rows);
    if (s.inOrder) {
        {
            std::lock_guard<std::mutex> hold(s.mutex);
            ++s.nextToUse;
        }
        s.changed.notify_all();
    }
    return true;
}

// Fetches frame k and uses it; `earlier`, a frame this thread holds that
// comes before k, is used first. A frame whose turn has not come when it is
// fetched is held while the thread fetches its next one, so that its core
// is not left idle waiting for the other thread; a thread holds at most two
// host frames, and the one whose turn comes first is always held or being
// fetched by a thread that is not waiting for a later one.
void fetchAndUse(Shared& s, PluginSession& session, size_t k, const Held* earlier) {
    auto use = [&](int result, const FrameRows* rows) {
        const Held mine{k, result, rows};
        if (earlier) {
            if (useInTurn(s, *earlier))
                useInTurn(s, mine);
            return;
        }
        if (s.inOrder && !isTurnOf(s, k)) {
            const size_t next = s.nextToTake.fetch_add(1);
            if (next < s.indices.size()) {
                fetchAndUse(s, session, next, &mine);
                return;
            }
        }
        useInTurn(s, mine);
    };
    const int r =
        fetchFrameRows(session, s.indices[k], [&](const FrameRows& rows) { use(0, &rows); });
    if (r != 0)
        use(r, nullptr);
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
            fetchAndUse(s, session, k, nullptr);
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
