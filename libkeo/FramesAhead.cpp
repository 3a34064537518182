// The reader thread and the hand-over of frame buffers.
#include "libkeo/FramesAhead.h"

#include <cstdlib>
#include <new>

#include "base/PictureMemory.h"

namespace keo::lib {

FramesAhead::FramesAhead(const FrameFeed& feed, size_t frameBytes, bool ahead)
    : feed_(feed), ahead_(ahead) {
    for (int i = 0; i < (ahead_ ? 2 : 1); ++i) {
        slots_[i].pixels = static_cast<uint8_t*>(keo::allocatePictureMemory(frameBytes));
        if (!slots_[i].pixels) {
            std::free(slots_[0].pixels);
            throw std::bad_alloc();
        }
    }
    if (ahead_)
        reader_ = std::thread([this] { readerLoop(); });
}

FramesAhead::~FramesAhead() {
    if (reader_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        reader_.join();
    }
    for (Slot& slot : slots_)
        std::free(slot.pixels);
}

FramesAhead::State FramesAhead::fill(int64_t index, Slot& slot) {
    try {
        return feed_(index, slot.pixels) ? State::Ready : State::End;
    } catch (...) {
        slot.failure = std::current_exception();
        return State::Failed;
    }
}

void FramesAhead::readerLoop() {
    for (int64_t index = 0;; ++index) {
        Slot& slot = slotOf(index);
        {
            // The export gives the slot back when it asks for the frame after
            // the one it held there.
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || slot.state == State::Empty; });
            if (stopping_)
                return;
        }
        // The slot is the reader's alone until its state says otherwise.
        const State state = fill(index, slot);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slot.state = state;
        }
        changed_.notify_all();
        if (state != State::Ready)
            return;
    }
}

const uint8_t* FramesAhead::next() {
    if (finished_)
        return nullptr;
    const int64_t index = nextIndex_++;
    Slot& slot = slotOf(index);
    if (!ahead_) {
        const State state = fill(index, slot);
        finished_ = state != State::Ready;
        if (state == State::Failed)
            std::rethrow_exception(slot.failure);
        return finished_ ? nullptr : slot.pixels;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (handedOut_) {
        // The frame before this one is done with: its slot may be refilled.
        slots_[(index - 1) % 2].state = State::Empty;
        changed_.notify_all();
    }
    changed_.wait(lock, [&] { return slot.state != State::Empty; });
    handedOut_ = slot.state == State::Ready;
    finished_ = !handedOut_;
    if (slot.state == State::Failed)
        std::rethrow_exception(slot.failure);
    return finished_ ? nullptr : slot.pixels;
}

} // namespace keo::lib
