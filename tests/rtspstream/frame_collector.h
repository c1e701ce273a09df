// Collects the frames a session hands to its frame callback.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "rtspstream/rtsp_client_session.h"

namespace rtspstreamtest {

struct Frame {
    bool video;
    std::vector<uint8_t> bytes;
    int64_t time;
    bool lost_before = false;
};

class FrameCollector {
  public:
    static int Deliver(const rtspstream::FrameDescriptor& f) {
        auto* self = static_cast<FrameCollector*>(f.receiver);
        std::lock_guard lock(self->mutex_);
        self->frames_.push_back({f.is_video != 0, std::vector<uint8_t>(f.data, f.data + f.length),
                                 f.time, f.lost_before != 0});
        self->changed_.notify_all();
        if (self->delay_.count() > 0) std::this_thread::sleep_for(self->delay_);
        return 0;
    }
    void Attach(rtspstream::RtspClientSession& s) { s.SetDeliver(&FrameCollector::Deliver, this); }

    std::vector<Frame> Frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    std::vector<Frame> Of(bool video) {
        std::vector<Frame> out;
        for (Frame& f : Frames())
            if (f.video == video) out.push_back(f);
        return out;
    }
    size_t Count(bool video) { return Of(video).size(); }
    void Clear() {
        std::lock_guard lock(mutex_);
        frames_.clear();
    }
    // Waits until pred(frames) holds or the time-out passes.
    template <typename Pred>
    bool WaitFor(Pred pred, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return pred(frames_); });
    }
    void SetDelay(std::chrono::microseconds d) { delay_ = d; }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Frame> frames_;
    std::chrono::microseconds delay_{0};
};

}  // namespace rtspstreamtest
