#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace rtspstream {

// One frame waiting in a pin's queue; owned by the queue until popped.
struct QueuedSample {
    std::vector<uint8_t> bytes;
    bool sync = false;  // video: holds an I picture start code; audio: always
    int64_t start = 0;  // stream times in 100 ns, before the seek base is taken off
    int64_t stop = 0;
};

// First-in first-out list of frames between the receive thread (push) and a
// pin's worker (pop), with a running byte total that other threads may read
// without the lock.
class SampleQueue {
  public:
    void Push(std::unique_ptr<QueuedSample> sample);
    std::unique_ptr<QueuedSample> Pop();  // nothing when empty
    void Flush();
    uint64_t total_bytes() const { return total_.load(std::memory_order_relaxed); }
    size_t count() const;

  private:
    mutable std::mutex mutex_;
    std::deque<std::unique_ptr<QueuedSample>> items_;
    std::atomic<uint64_t> total_{0};
};

}  // namespace rtspstream
