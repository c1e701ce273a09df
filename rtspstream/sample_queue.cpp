#include "rtspstream/sample_queue.h"

namespace rtspstream {

void SampleQueue::Wake() {
    changed_.notify_all();
    if (wake_) SetEvent(wake_);
}

bool SampleQueue::Push(std::unique_ptr<QueuedSample> sample) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return total_.load(std::memory_order_relaxed) < limit_ || stopped_.load();
        });
        if (total_.load(std::memory_order_relaxed) >= limit_) return false;  // stopped
        total_.fetch_add(sample->bytes.size(), std::memory_order_relaxed);
        items_.push_back(std::move(sample));
    }
    Wake();
    return true;
}

void SampleQueue::PushPastLimit(std::unique_ptr<QueuedSample> sample) {
    {
        std::lock_guard lock(mutex_);
        total_.fetch_add(sample->bytes.size(), std::memory_order_relaxed);
        items_.push_back(std::move(sample));
    }
    Wake();
}

std::unique_ptr<QueuedSample> SampleQueue::Pop() {
    std::unique_ptr<QueuedSample> sample;
    {
        std::lock_guard lock(mutex_);
        if (items_.empty()) return nullptr;
        sample = std::move(items_.front());
        items_.pop_front();
        total_.fetch_sub(sample->bytes.size(), std::memory_order_relaxed);
    }
    changed_.notify_all();  // room for a waiting push
    return sample;
}

std::unique_ptr<QueuedSample> SampleQueue::WaitPop(std::chrono::milliseconds timeout) {
    std::unique_ptr<QueuedSample> sample;
    {
        std::unique_lock lock(mutex_);
        const uint64_t flushes = flushes_;
        changed_.wait_for(lock, timeout, [&] {
            return !items_.empty() || stopped_.load() || flushes_ != flushes;
        });
        if (items_.empty() || stopped_.load() || flushes_ != flushes) return nullptr;
        sample = std::move(items_.front());
        items_.pop_front();
        total_.fetch_sub(sample->bytes.size(), std::memory_order_relaxed);
    }
    changed_.notify_all();
    return sample;
}

void SampleQueue::Flush() {
    std::deque<std::unique_ptr<QueuedSample>> gone;
    {
        std::lock_guard lock(mutex_);
        gone.swap(items_);
        total_.store(0, std::memory_order_relaxed);
        ++flushes_;
    }
    Wake();
}

void SampleQueue::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    Wake();
}

void SampleQueue::Start() {
    std::lock_guard lock(mutex_);
    stopped_ = false;
}

size_t SampleQueue::Count() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

}  // namespace rtspstream
