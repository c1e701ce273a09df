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

// A count of work done that other threads wait for, such as a row's macroblocks. Not
// std::atomic<int>::wait: where the platform has no futex the standard library's version can
// miss a notify (GCC 12, as the Windows toolchain ships it), and both coding threads then
// sleep for good. Waiters poll first (a macroblock takes microseconds, a sleep and wake-up
// far longer), then sleep on a condition variable.
class ProgressCount {
  public:
    int Load() const { return value_.load(std::memory_order_acquire); }
    // Sets the count; wakes the sleepers once it reaches the least target one sleeps for.
    void Store(int value);
    // Polls for about 5-40 microseconds; true when the count reached `target`.
    bool PollAtLeast(int target) const;
    // Returns once the count is at least `target`, asleep if polling does not get there.
    void WaitAtLeast(int target);
    // Sleeps (without polling) until the count is at least `target`.
    void SleepUntil(int target);

  private:
    static constexpr int kNobodySleeps = 1 << 30;
    std::atomic<int> value_{0};
    std::atomic<int> wanted_{kNobodySleeps};  // the least target of the sleepers
    int sleepers_ = 0;                        // under lock_
    std::mutex lock_;
    std::condition_variable changed_;
};

}  // namespace harrowgate
