// Work on frames beside the thread that fetches them: encoding stills,
// shrinking thumbnails, decoding an export's stills ahead of it.
//
// Only one thread may talk to the plug-in, so frames are fetched one after
// another on the caller's thread; what is then done with each (a PNG of a
// 1280x720 frame takes several times as long as its decode) runs on worker
// threads while the next frames are fetched. The caller fills a slot's
// frame buffer, hands it over with submit(), and takes the results back in
// the order it handed the frames over, so files, streams and messages come
// out in frame order. At most `slots` frames are in flight (being filled,
// waiting, worked on, or done and not yet taken back): memory stays bounded
// whatever the length of the movie.
//
// A failure the work throws reaches the caller when it takes that frame's
// result, as if the work had run there. With no workers the work runs in
// submit() on the caller's thread. Work that needs nothing of the caller's
// but the tag (decoding the still file of frame `tag`) asks for frames of
// 0 bytes and leaves the buffer alone.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace keo::tool {

class FramePipeline {
public:
    // Turns frame `tag`'s pixels into its result; runs on a worker.
    using Work =
        std::function<void(int64_t tag, const uint8_t* frame, std::vector<uint8_t>* result)>;
    // Receives the results in submission order, on the caller's thread.
    using Take = std::function<void(int64_t tag, std::vector<uint8_t>& result)>;

    FramePipeline(Work work, Take take, size_t frameBytes, int workers, int slots);
    // Stops the workers after the frames they are working on; frames not
    // taken back are dropped.
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // The buffer for the next frame. When every slot is in flight, the
    // oldest frame is waited for and taken back first.
    uint8_t* nextBuffer();
    // Hands the buffer given out last to the workers as frame `tag`.
    void submit(int64_t tag);
    // Gives the buffer handed out last back unused.
    void drop();
    // Takes back the results that are done, oldest first, up to the first
    // that is not; with `all`, waits for every frame in flight.
    void collect(bool all);
    // Takes back the oldest frame in flight, waiting for it: for a caller
    // that wants each result only when it needs it. False, taking nothing,
    // when no frame is submitted and waiting to be taken.
    bool takeNext();

    // Workers for this machine: its cores, at most 8.
    static int workersForThisMachine();
    // Slots for frames of `frameBytes`: two more than workers, fewer when
    // they would take more than 1 GiB, never fewer than 2.
    static int slotsFor(size_t frameBytes, int workers);

private:
    enum class State { Free, Filling, Queued, Working, Done };
    struct Slot {
        std::vector<uint8_t> frame;
        std::vector<uint8_t> result;
        int64_t tag = 0;
        State state = State::Free;
        std::exception_ptr failure;
    };

    void workerLoop();
    void run(Slot& slot);
    // Takes back the oldest frame in flight, waiting for it.
    void takeOldest();

    Work work_;
    Take take_;
    std::vector<Slot> slots_;
    size_t oldest_ = 0;   // the slot of the oldest frame in flight
    size_t inFlight_ = 0; // slots from oldest_ on that are not Free
    std::deque<size_t> queue_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace keo::tool
