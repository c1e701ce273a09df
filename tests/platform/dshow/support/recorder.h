// Collects what a capture renderer receives, for the tests to inspect.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "dshow/runtime.h"

namespace avs::test {

struct Received {
    avs::dshow::CaptureEvent::Kind kind;
    int index = -1;  // sample index from the payload (test sources), else -1
    BYTE tag = 0;
    LONG length = 0;
    bool has_time = false;
    REFERENCE_TIME start = 0, stop = 0;
    bool sync = false, discontinuity = false;
    REFERENCE_TIME seg_start = 0, seg_stop = 0;
    double rate = 0;
};

class Recorder {
  public:
    avs::dshow::CaptureCallback Callback() {
        return [this](const avs::dshow::CaptureEvent& e) {
            Received r;
            r.kind = e.kind;
            r.length = e.actual_length;
            r.has_time = e.has_time;
            r.start = e.start;
            r.stop = e.stop;
            r.sync = e.sync_point;
            r.discontinuity = e.discontinuity;
            r.seg_start = e.segment_start;
            r.seg_stop = e.segment_stop;
            r.rate = e.rate;
            if (e.kind == avs::dshow::CaptureEvent::Kind::kSample && e.data != nullptr &&
                e.actual_length >= 5) {
                r.index = e.data[0] | (e.data[1] << 8) | (e.data[2] << 16) | (e.data[3] << 24);
                r.tag = e.data[4];
            }
            if (delay_us_ > 0 && e.kind == avs::dshow::CaptureEvent::Kind::kSample)
                std::this_thread::sleep_for(std::chrono::microseconds(delay_us_));
            {
                std::lock_guard<std::mutex> g(mutex_);
                events_.push_back(r);
            }
            cond_.notify_all();
        };
    }
    std::vector<Received> Events() {
        std::lock_guard<std::mutex> g(mutex_);
        return events_;
    }
    void Clear() {
        std::lock_guard<std::mutex> g(mutex_);
        events_.clear();
    }
    // Waits until `pred(events)` holds or the time runs out.
    template <typename P>
    bool WaitFor(P pred, int ms = 5000) {
        std::unique_lock<std::mutex> l(mutex_);
        return cond_.wait_for(l, std::chrono::milliseconds(ms), [&] { return pred(events_); });
    }
    int delay_us_ = 0;  // slows the renderer, to keep a stream running

  private:
    std::mutex mutex_;
    std::condition_variable cond_;
    std::vector<Received> events_;
};

}  // namespace avs::test
