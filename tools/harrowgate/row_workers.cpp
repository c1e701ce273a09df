#include "tools/harrowgate/row_workers.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace harrowgate {
namespace {

// About 5-40 microseconds of polling on current processors (the pause instruction takes 10
// to 140 cycles); every 16th poll gives the processor to another thread, which may be the
// one coding the row waited for.
constexpr int kPolls = 1000;

inline void Relax() {
#if defined(__SSE2__)
    _mm_pause();
#endif
}

}  // namespace

RowWorkers::RowWorkers(int helpers) {
    for (int i = 0; i < helpers; ++i) threads_.emplace_back([this] { Loop(); });
}

RowWorkers::~RowWorkers() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    start_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void RowWorkers::Run(const std::function<void()>& job) {
    const std::lock_guard<std::mutex> one(run_lock_);
    Start(job);
    std::exception_ptr own;
    try {
        job();
    } catch (...) {
        own = std::current_exception();
    }
    try {
        Wait();
    } catch (...) {
        if (!own) own = std::current_exception();
    }
    if (own) std::rethrow_exception(own);
}

void RowWorkers::Start(const std::function<void()>& job) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        job_ = &job;
        running_ = static_cast<int>(threads_.size());
        failure_ = nullptr;
        ++generation_;
    }
    start_.notify_all();
}

void RowWorkers::Wait() {
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [&] { return running_ == 0; });
    job_ = nullptr;
    if (failure_) std::rethrow_exception(failure_);
}

void RowWorkers::Loop() {
    unsigned long long seen = 0;
    for (;;) {
        const std::function<void()>* job;
        {
            std::unique_lock<std::mutex> hold(lock_);
            start_.wait(hold, [&] { return stop_ || generation_ != seen; });
            if (stop_) return;
            seen = generation_;
            job = job_;
        }
        std::exception_ptr failure;
        try {
            (*job)();
        } catch (...) {
            failure = std::current_exception();
        }
        bool last;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            if (failure && !failure_) failure_ = failure;
            last = --running_ == 0;
        }
        if (last) done_.notify_all();
    }
}

bool ProgressCount::PollAtLeast(int target) const {
    for (int i = 0; i < kPolls; ++i) {
        if (Load() >= target) return true;
        if (i % 16 == 15)
            std::this_thread::yield();
        else
            Relax();
    }
    return Load() >= target;
}

void ProgressCount::WaitAtLeast(int target) {
    if (!PollAtLeast(target)) SleepUntil(target);
}

void ProgressCount::SleepUntil(int target) {
    std::unique_lock<std::mutex> hold(lock_);
    ++sleepers_;
    if (target < wanted_.load()) wanted_.store(target);
    // The store of wanted_ above and the load of value_ here pair with Store's store of
    // value_ and load of wanted_ (all sequentially consistent): either this sees the new
    // count or Store sees the target and wakes this.
    changed_.wait(hold, [&] { return value_.load() >= target; });
    // The others' targets are not kept: with sleepers left, wanted_ stays at or below
    // theirs, which costs them early wake-ups only.
    if (--sleepers_ == 0) wanted_.store(kNobodySleeps);
}

void ProgressCount::Store(int value) {
    value_.store(value);
    if (value < wanted_.load()) return;
    // Taking the lock orders this against a sleeper between its check and its sleep.
    { const std::lock_guard<std::mutex> hold(lock_); }
    changed_.notify_all();
}

}  // namespace harrowgate
