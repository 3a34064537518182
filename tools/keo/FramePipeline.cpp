// The slot ring, the workers and the in-order hand-back.
#include "FramePipeline.h"

#include <algorithm>

namespace keo::tool {

FramePipeline::FramePipeline(Work work, Take take, size_t frameBytes, int workers, int slots)
    : work_(std::move(work)), take_(std::move(take)),
      slots_(static_cast<size_t>(std::max(slots, 1))) {
    for (Slot& slot : slots_)
        slot.frame.resize(frameBytes);
    for (int i = 0; i < workers; ++i)
        workers_.emplace_back([this] { workerLoop(); });
}

FramePipeline::~FramePipeline() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

int FramePipeline::workersForThisMachine() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

int FramePipeline::slotsFor(size_t frameBytes, int workers) {
    const size_t budget = size_t(1) << 30;
    const size_t fit = frameBytes > 0 ? budget / frameBytes : 2;
    return static_cast<int>(std::max<size_t>(2, std::min<size_t>(workers + 2, fit)));
}

void FramePipeline::run(Slot& slot) {
    try {
        work_(slot.tag, slot.frame.data(), &slot.result);
    } catch (...) {
        slot.failure = std::current_exception();
    }
}

void FramePipeline::workerLoop() {
    for (;;) {
        size_t index;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            index = queue_.front();
            queue_.pop_front();
            slots_[index].state = State::Working;
        }
        // The slot is this worker's alone until its state says Done.
        run(slots_[index]);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slots_[index].state = State::Done;
        }
        changed_.notify_all();
    }
}

uint8_t* FramePipeline::nextBuffer() {
    if (inFlight_ == slots_.size())
        takeOldest();
    Slot& slot = slots_[(oldest_ + inFlight_) % slots_.size()];
    ++inFlight_;
    slot.state = State::Filling;
    return slot.frame.data();
}

void FramePipeline::submit(int64_t tag) {
    const size_t index = (oldest_ + inFlight_ - 1) % slots_.size();
    Slot& slot = slots_[index];
    slot.tag = tag;
    if (workers_.empty()) {
        run(slot);
        slot.state = State::Done;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.state = State::Queued;
        queue_.push_back(index);
    }
    changed_.notify_all();
}

void FramePipeline::drop() {
    slots_[(oldest_ + inFlight_ - 1) % slots_.size()].state = State::Free;
    --inFlight_;
}

void FramePipeline::takeOldest() {
    Slot& slot = slots_[oldest_];
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return slot.state == State::Done; });
    }
    // Done: no worker touches the slot again until it is submitted anew.
    slot.state = State::Free;
    oldest_ = (oldest_ + 1) % slots_.size();
    --inFlight_;
    if (slot.failure) {
        std::exception_ptr failure = slot.failure;
        slot.failure = nullptr;
        std::rethrow_exception(failure);
    }
    take_(slot.tag, slot.result);
}

bool FramePipeline::takeNext() {
    if (inFlight_ == 0)
        return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (slots_[oldest_].state == State::Filling)
            return false;
    }
    takeOldest();
    return true;
}

void FramePipeline::collect(bool all) {
    while (inFlight_ > 0) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const State state = slots_[oldest_].state;
            // A buffer handed out and neither submitted nor dropped yet
            // holds no frame to wait for.
            if (state == State::Filling || (!all && state != State::Done))
                return;
        }
        takeOldest();
    }
}

} // namespace keo::tool
