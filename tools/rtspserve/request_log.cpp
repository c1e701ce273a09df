#include "tools/rtspserve/request_log.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace rtspserve {

namespace {

constexpr size_t kMaxLineBytes = 1024;

class LogQueue {
  public:
    void Push(std::string line) {
        if (line.size() > kMaxLineBytes) line.resize(kMaxLineBytes);
        if (line.empty() || line.back() != '\n') line += '\n';
        std::lock_guard lock(mutex_);
        if (!started_) {
            // Never joined: at the end of the program it may be stuck in a write.
            std::thread([this] { WriteLoop(); }).detach();
            started_ = true;
        }
        if (lines_.size() >= kLogQueueLines) {
            ++dropped_;
            return;
        }
        lines_.push_back(std::move(line));
        wake_.notify_one();
    }

    bool Flush(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return written_.wait_for(lock, timeout,
                                 [this] { return lines_.empty() && dropped_ == 0 && !writing_; });
    }

  private:
    void WriteLoop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !lines_.empty() || dropped_ > 0; });
            std::deque<std::string> batch;
            batch.swap(lines_);
            unsigned long long dropped = dropped_;
            dropped_ = 0;
            writing_ = true;
            lock.unlock();
            // The lines taken were queued before any that were dropped.
            for (const std::string& line : batch) std::fwrite(line.data(), 1, line.size(), stderr);
            if (dropped)
                std::fprintf(stderr,
                             "rtspserve: %llu log lines dropped (standard error was full)\n",
                             dropped);
            std::fflush(stderr);
            lock.lock();
            writing_ = false;
            written_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, written_;
    std::deque<std::string> lines_;
    unsigned long long dropped_ = 0;
    bool started_ = false;
    bool writing_ = false;
};

// Never destroyed, as its writer may outlive every server.
LogQueue& Queue() {
    static LogQueue* queue = new LogQueue;
    return *queue;
}

}  // namespace

void LogLine(std::string line) {
    Queue().Push(std::move(line));
}

bool FlushLog(std::chrono::milliseconds timeout) {
    return Queue().Flush(timeout);
}

}  // namespace rtspserve
