// What the stream source's two output pins share: the queue between the
// receive thread and the pin's worker, the held frame, the stop flag and the
// event, buffering and the end-of-stream rule; seeking comes from the shared
// pin base.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "dshow/streams.h"
#include "filtermodule/seeking_stream.h"
#include "rtspstream/sample_queue.h"

namespace rtspstream {

class CTallowmere;

inline constexpr uint32_t kMaxFrameBytes = 0x50000;     // 327680
inline constexpr uint64_t kQueueLimitBytes = 0xA00001;  // the push waits from here on
inline constexpr uint64_t kBufferHighBytes = 5120;      // buffering ends above
using filtermodule::kOpenSegmentStop;
inline constexpr int64_t kEndMargin = 20000000;  // 2 s before the end
// A stored stream ends only once the server has been quiet this long: a server
// pacing in real time is still sending the last 2 s when the margin is reached.
// Frames come at least every 40 ms at the slowest rate carried, and a
// retransmission-free TCP stream on a loaded machine rarely stalls longer than
// a few hundred milliseconds; 1 s keeps the end prompt without cutting a tail.
inline constexpr std::chrono::milliseconds kEndQuiet{1000};
// A pin whose queue has run dry waits this long for the next frame before it
// calls it a stall and buffers again. A real-time server leaves the queue empty
// between frames (up to 42 ms apart at the slowest rate carried, a few hundred
// ms on a jittery path); only a longer silence is a stall worth buffering for.
inline constexpr std::chrono::milliseconds kStallWait{500};

class CRtspStream : public filtermodule::CSeekingSourceStream {
  public:
    CRtspStream(LPCTSTR object_name, HRESULT* phr, CTallowmere* filter, LPCWSTR pin_name,
                const char* event_name);
    ~CRtspStream() override;

    // Receive thread: holds the frame and queues the one held before it.
    // 0, or -1 when a frame had to be dropped at the push.
    virtual int Deliver(const uint8_t* data, uint32_t length, int64_t time) = 0;
    using CSourceStream::Deliver;  // the pin's own sample delivery stays reachable

    // Before the server is asked to play (the filter's Pause from Stopped):
    // stop cleared, queue emptied, no held frame. Frames are taken only while
    // the pin is connected, so an unrendered pin never holds the receive
    // thread back.
    void PrepareForPlay();
    // Queue emptied, new segment pending, held frame dropped: at the filter's first
    // start, a live stream's Pause and a seek (whose held frame is from before it).
    void FlushPin();
    // A seek's two halves around the request for the new position: downstream
    // flushed and the worker stopped, then the worker running again. Stopping it
    // before the request keeps it from taking the new position's first frames
    // while downstream is still flushing, which would lose them.
    void StopWorkerForSeek();
    void RunWorkerAfterSeek();
    // The filter's Stop: the queue stopped (which wakes the worker and a
    // push waiting for room) and emptied.
    void StopDelivery();
    // A new segment, and decoding from the next I picture: the start of a run.
    void MarkNewSegment() {
        new_segment_pending_ = true;
        need_sync_ = true;
    }
    // Receive thread: a frame was lost before the next one (dropped as too large,
    // or a packet missing); that one is marked, so that decoding restarts cleanly.
    void NoteLoss() { loss_pending_ = true; }
    bool seek_pending() const { return seek_pending_; }
    // Pause from Stopped takes a seek made while stopped.
    bool TakeSeekPending() { return seek_pending_.exchange(false); }
    // A seek while paused or running: the receive thread is let go at once (frames
    // are dropped until PlayRange), so that it can read the PAUSE reply even when
    // it was held in a full queue.
    void RefuseFrames() {
        accepting_ = false;
        queue_.Flush();
    }
    void AcceptFrames() { accepting_ = CSourceStream::IsConnected() != FALSE; }
    // No more frames will come: the held frame is queued too, so the stream ends
    // with its last frame.
    void SetEnding();
    bool ending() const { return ending_; }
    // A seek: the end is judged afresh from the frames of the new position.
    void ResetEnd() {
        ending_ = false;
        newest_time_ = 0;
        received_ = false;
    }
    void SetStop() { queue_.Stop(); }
    // Something the worker's waits depend on changed (buffering, the filter's state).
    void WakeWorker() { SetEvent(event_); }
    HANDLE wake_event() const { return event_; }
    uint64_t queued_bytes() const { return queue_.TotalBytes(); }
    size_t queued_count() const { return queue_.Count(); }
    bool buffering_here() const { return buffering_here_; }
    bool stopped() const { return queue_.Stopped(); }

  protected:
    // A live stream cannot seek.
    bool SeekingOffered() const override;
    LONG SampleBufferSize() const override { return static_cast<LONG>(kMaxFrameBytes); }
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;
    HRESULT OnThreadStartPlay() override;
    HRESULT Inactive() override;

    // Sets the duration, the seeking stop and the end threshold.
    void SetDuration(int64_t duration);
    // Queues the held frame as a sample ending at `time`; -1 when stop made the
    // push give up.
    int QueueHeld(int64_t time);
    // Holds a frame (`sync`: it can start decoding) until the next one gives its stop time.
    void Hold(const uint8_t* data, uint32_t length, int64_t time, bool sync);
    // The held frame as a sample ending at `stop`, none when nothing is held; the
    // caller holds held_mutex_.
    std::unique_ptr<QueuedSample> TakeHeldLocked(int64_t stop);
    bool Push(std::unique_ptr<QueuedSample> sample);
    // Once a stored stream has come within 2 s of its end and either plays or
    // was sought to its last `lead` before that, and no frame has come on
    // either pin for kEndQuiet, both pins are ending: they stop waiting for
    // more and end their streams when their queues run dry. So are they, at
    // once, when the server closed the connection or said BYE. True when
    // this pin is ending.
    bool CheckEndOfStream(int64_t lead);
    // The server sent nothing to either pin for kEndQuiet.
    bool ServerQuiet() const;
    // When the server will have been quiet for kEndQuiet, unless a frame comes first.
    int64_t QuietDeadline() const;
    CRtspStream* OtherPin() const;
    // Waits until a frame comes on either pin, a flush, a stop, a flag change,
    // a command for the worker, or the end-of-stream quiet time runs out.
    void WaitForData(int64_t deadline_ns = 0);
    // A seek or stop wants the worker while it waits for data.
    bool CommandPending() { return CheckRequest(nullptr); }
    // A seek or stop while buffering: the worker is given back with an empty sample.
    bool GiveBackForCommand(IMediaSample* sample) {
        if (!CommandPending()) return false;
        buffering_here_ = false;
        sample->SetActualDataLength(0);
        return true;
    }
    enum class FrameWait { kFrame, kStalled, kBuffering, kEnded, kCommand, kStopped };
    // Waits while the queue is empty: kFrame once one is queued; kStalled when
    // none came for kStallWait; kBuffering when buffering started meanwhile;
    // kEnded when the stream ended (CheckEndOfStream with `lead`); kCommand for a
    // seek or stop; kStopped when the queue was stopped.
    FrameWait WaitForFrame(int64_t lead);
    enum class Step { kPop, kAgain, kReturn };
    // What FillBuffer does after WaitForFrame: pop the frame; go round again (buffering
    // started, here when `stall_buffers` and this pin stalled); or return `result`
    // (an empty sample for a command, S_FALSE at the end or a stop).
    Step StepAfterWait(FrameWait wait, bool stall_buffers, IMediaSample* sample, HRESULT& result);
    // After popping: marks a lost frame's successor (decode from the next I picture).
    void NoteLossAt(const QueuedSample& sample) {
        if (!sample.after_loss) return;
        need_sync_ = true;
        new_segment_pending_ = true;
    }
    // Pops one sample into the media sample; false when none was queued.
    bool PopInto(IMediaSample* sample, std::unique_ptr<QueuedSample>& popped);

    CTallowmere* const filter_;
    SampleQueue queue_{kQueueLimitBytes};
    // Auto-reset and set by every change the worker may wait for; a set event
    // stays set until the worker's next wait, so no wake-up is lost.
    HANDLE event_ = nullptr;
    // When the last end-of-stream check failed only because the server was not
    // yet quiet: the steady-clock nanoseconds it will be. Worker thread only.
    int64_t quiet_deadline_ns_ = 0;
    std::atomic<bool> accepting_{false};
    std::atomic<bool> ending_{false};
    std::atomic<bool> received_{false};  // a frame came since the start or the seek
    std::atomic<bool> buffering_here_{false};
    // A new segment goes downstream with the next sample delivered (after the
    // start, a seek, buffering or a loss).
    std::atomic<bool> new_segment_pending_{true};
    // Samples go out empty until an I picture (after the start, a seek or a loss;
    // a stall that lost nothing does not set it). Audio samples are all sync.
    std::atomic<bool> need_sync_{true};
    std::atomic<bool> seek_pending_{false};
    std::atomic<bool> loss_pending_{false};  // set by the receive thread
    // Guards the held frame, which the receive thread holds and queues, and the end of
    // the stream (a worker) queues once.
    std::mutex held_mutex_;
    bool held_after_loss_ = false;
    bool held_sync_ = false;
    int64_t last_interval_ = 0;             // between the last two frames' start times
    std::vector<uint8_t> held_;             // receive thread only (and PrepareForPlay before PLAY)
    std::atomic<uint32_t> held_length_{0};  // a live stream's Pause drops the frame
    std::atomic<int64_t> held_start_{0};
    std::atomic<int64_t> newest_time_{0};
    // Steady-clock nanoseconds of the latest frame taken by the receive thread.
    std::atomic<int64_t> last_receive_ns_{0};
    std::atomic<uint64_t> end_threshold_{UINT64_MAX};
};

}  // namespace rtspstream
