#include "rtspstream/sample_queue.h"

namespace rtspstream {

void SampleQueue::Push(std::unique_ptr<QueuedSample> sample) {
    std::lock_guard lock(mutex_);
    total_.fetch_add(sample->bytes.size(), std::memory_order_relaxed);
    items_.push_back(std::move(sample));
}

std::unique_ptr<QueuedSample> SampleQueue::Pop() {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return nullptr;
    std::unique_ptr<QueuedSample> sample = std::move(items_.front());
    items_.pop_front();
    total_.fetch_sub(sample->bytes.size(), std::memory_order_relaxed);
    return sample;
}

void SampleQueue::Flush() {
    std::deque<std::unique_ptr<QueuedSample>> gone;
    {
        std::lock_guard lock(mutex_);
        gone.swap(items_);
        total_.store(0, std::memory_order_relaxed);
    }
}

size_t SampleQueue::count() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

}  // namespace rtspstream
