#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace harrowgate {

// Threads kept for the life of a picture coder, so that a picture's rows start without
// creating threads: Run hands one job to every helper and runs it on the caller too.
class RowWorkers {
  public:
    explicit RowWorkers(int helpers);
    ~RowWorkers();
    RowWorkers(const RowWorkers&) = delete;
    RowWorkers& operator=(const RowWorkers&) = delete;

    int Helpers() const { return static_cast<int>(threads_.size()); }
    // Returns once every helper and the caller have finished `job`; a helper's exception is
    // thrown here after that.
    void Run(const std::function<void()>& job);
    // Run in two halves, for a caller with other work meanwhile: Start hands `job` (kept
    // alive by the caller) to the helpers only; Wait returns once they have all finished it,
    // throwing a helper's exception. Not beside a Run.
    void Start(const std::function<void()>& job);
    void Wait();

  private:
    void Loop();

    std::mutex run_lock_;  // one Run at a time
    std::mutex lock_;
    std::condition_variable start_;
    std::condition_variable done_;
    const std::function<void()>* job_ = nullptr;
    unsigned long long generation_ = 0;
    int running_ = 0;
    bool stop_ = false;
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

// Waits until `value` is at least `target`: first by polling for a while (a macroblock takes
// microseconds, a sleep and wake-up far longer), then asleep. Whoever raises `value` calls
// notify_all after.
void WaitAtLeast(const std::atomic<int>& value, int target);
// Polls `value` for about as long as WaitAtLeast does; true when it reached `target`.
bool PollAtLeast(const std::atomic<int>& value, int target);

}  // namespace harrowgate
