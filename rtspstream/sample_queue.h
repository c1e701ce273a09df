#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "sync/sync.h"

namespace rtspstream {

// One frame waiting in a pin's queue; owned by the queue until popped.
struct QueuedSample {
    std::vector<uint8_t> bytes;
    bool sync = false;  // video: holds an I picture start code; audio: always
    int64_t start = 0;  // stream times in 100 ns, before the seek base is taken off
    int64_t stop = 0;
    // Something before it was lost (a picture dropped, a packet missing): decoding
    // must start again at an I picture.
    bool after_loss = false;
};

// First-in first-out list of frames between the receive thread (push) and a
// pin's worker (pop), with a running byte total that other threads may read
// without the lock. A push waits while the queue holds `limit_bytes` or more;
// a stop ends that wait (the frame is dropped) and a flush ends it by making
// room. WaitPop waits for a frame and is ended by a stop or a flush too.
class SampleQueue {
  public:
    explicit SampleQueue(uint64_t limit_bytes = UINT64_MAX) : limit_(limit_bytes) {}

    // False when the queue was stopped while full: the sample is dropped.
    bool Push(std::unique_ptr<QueuedSample> sample);
    // Appends without waiting for room: the one frame that ends a stream.
    void PushPastLimit(std::unique_ptr<QueuedSample> sample);
    std::unique_ptr<QueuedSample> Pop();  // nothing when empty
    // Waits up to `timeout` for a frame; nothing on a stop, a flush or the time-out.
    std::unique_ptr<QueuedSample> WaitPop(std::chrono::milliseconds timeout);
    void Flush();
    // Stop ends every wait and keeps pushes on a full queue from waiting; Start undoes it.
    void Stop();
    void Start();
    bool Stopped() const { return stopped_.load(); }
    // Also set on every push, flush and stop: the pin's worker waits on it
    // together with its command event, which a condition variable cannot do.
    void SetWakeEvent(HANDLE event) { wake_ = event; }
    uint64_t TotalBytes() const { return total_.load(std::memory_order_relaxed); }
    size_t Count() const;

  private:
    void Wake();

    const uint64_t limit_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<QueuedSample>> items_;
    uint64_t flushes_ = 0;  // under mutex_: tells a waiting pop that a flush came
    std::atomic<uint64_t> total_{0};
    std::atomic<bool> stopped_{false};
    HANDLE wake_ = nullptr;
};

}  // namespace rtspstream
