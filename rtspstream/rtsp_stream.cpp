#include "rtspstream/rtsp_stream.h"

#include <algorithm>
#include <cstring>

#include "rtspstream/rtsp_audio_stream.h"
#include "rtspstream/rtsp_video_stream.h"
#include "rtspstream/tallowmere.h"

namespace rtspstream {

namespace {

int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

CRtspStream::CRtspStream(LPCTSTR object_name, HRESULT* phr, CTallowmere* filter, LPCWSTR pin_name,
                         const char* event_name)
    : CSeekingSourceStream(object_name, phr, filter, pin_name), filter_(filter) {
    event_ = CreateEventA(nullptr, FALSE, FALSE, event_name);
    if (event_ == nullptr && phr) *phr = E_OUTOFMEMORY;
    queue_.SetWakeEvent(event_);
}

CRtspStream::~CRtspStream() {
    if (event_) CloseHandle(event_);
}

bool CRtspStream::SeekingOffered() const {
    return !filter_->live();
}

void CRtspStream::SetDuration(int64_t duration) {
    SetSeekingDuration(duration);
    if (duration <= 0 && filter_->live())
        end_threshold_ = UINT64_MAX;  // a live stream of no length ends when its server ends it
    else
        // A stored clip shorter than the margin, or of no known length, ends once
        // the server has gone quiet.
        end_threshold_ = duration > kEndMargin ? static_cast<uint64_t>(duration - kEndMargin) : 0;
}

void CRtspStream::PrepareForPlay() {
    queue_.Start();
    ending_ = false;
    received_ = false;
    queue_.Flush();
    {
        std::lock_guard lock(held_mutex_);
        held_length_ = 0;
        held_start_ = 0;
        held_after_loss_ = false;
        last_interval_ = 0;
    }
    loss_pending_ = false;
    newest_time_ = 0;
    accepting_ = CSourceStream::IsConnected() != FALSE;
}

void CRtspStream::FlushPin() {
    queue_.Flush();
    MarkNewSegment();
    std::lock_guard lock(held_mutex_);
    held_length_ = 0;
}

void CRtspStream::StopDelivery() {
    queue_.Stop();
    queue_.Flush();
}

bool CRtspStream::Push(std::unique_ptr<QueuedSample> sample) {
    // Waits while the queue is full; a stop ends the wait and drops the frame.
    return queue_.Push(std::move(sample));
}

std::unique_ptr<QueuedSample> CRtspStream::TakeHeldLocked(int64_t stop) {
    if (held_length_ == 0) return nullptr;
    auto sample = std::make_unique<QueuedSample>();
    // The held bytes move into the queue: the next frame is held in a fresh buffer anyway.
    held_.resize(held_length_);
    sample->bytes = std::move(held_);
    held_ = std::vector<uint8_t>();
    held_length_ = 0;
    sample->sync = held_sync_;
    sample->after_loss = held_after_loss_;
    sample->start = held_start_;
    sample->stop = stop;
    last_interval_ = stop - held_start_;
    return sample;
}

int CRtspStream::QueueHeld(int64_t time) {
    std::unique_ptr<QueuedSample> sample;
    {
        std::lock_guard lock(held_mutex_);
        sample = TakeHeldLocked(time);
    }
    if (!sample) return 0;
    // Pushed without the held frame's lock: the push may wait for room.
    return Push(std::move(sample)) ? 0 : -1;
}

void CRtspStream::SetEnding() {
    {
        // The held frame is queued before the end can be seen, so that a worker that
        // finds the end with an empty queue has really had every frame. Nothing follows
        // it to give its stop time: it lasts as long as the frame before it did.
        std::lock_guard lock(held_mutex_);
        if (!ending_) {
            const int64_t start = held_start_.load();
            if (auto sample = TakeHeldLocked(start + std::max<int64_t>(last_interval_, 0)))
                queue_.PushPastLimit(std::move(sample));
            ending_ = true;
        }
    }
    SetEvent(event_);
}

void CRtspStream::Hold(const uint8_t* data, uint32_t length, int64_t time, bool sync) {
    std::lock_guard lock(held_mutex_);
    held_.assign(data, data + length);
    held_length_ = length;
    held_start_ = time;
    held_sync_ = sync;
    held_after_loss_ = loss_pending_.exchange(false);
    newest_time_ = time;
    last_receive_ns_ = SteadyNanoseconds();
    received_ = true;
    // The end-of-stream check reads the times just set (the other pin's worker
    // needs no wake: a frame only puts its quiet deadline later).
    SetEvent(event_);
}

bool CRtspStream::CheckEndOfStream(int64_t lead) {
    quiet_deadline_ns_ = 0;
    if (ending_) return true;
    if (filter_->server_ended()) {
        // The connection closed or the server said BYE: nothing more will come.
        SetEnding();
        if (CRtspStream* other = OtherPin()) other->SetEnding();
        return true;
    }
    if (!received_) return false;  // nothing yet: the newest time means nothing
    FILTER_STATE state = State_Stopped;
    filter_->GetState(0, &state);
    uint64_t threshold = end_threshold_;
    // Packet times count from where the connection's first PLAY started.
    auto newest = static_cast<uint64_t>(newest_time_.load() + filter_->shared().time_origin());
    if (newest < threshold) return false;
    auto lead_units = static_cast<uint64_t>(lead);
    uint64_t lead_threshold = threshold > lead_units ? threshold - lead_units : 0;
    if (state != State_Running && static_cast<uint64_t>(segment_start()) < lead_threshold)
        return false;
    // The threshold is reached while a real-time server still sends the
    // last 2 s: end only once it has stopped.
    if (!ServerQuiet()) {
        quiet_deadline_ns_ = QuietDeadline();
        return false;
    }
    SetEnding();
    CRtspStream* other = OtherPin();
    if (other) other->SetEnding();
    return true;
}

CRtspStream* CRtspStream::OtherPin() const {
    return this == static_cast<const CRtspStream*>(filter_->video_pin())
               ? static_cast<CRtspStream*>(filter_->audio_pin())
               : static_cast<CRtspStream*>(filter_->video_pin());
}

int64_t CRtspStream::QuietDeadline() const {
    int64_t latest = last_receive_ns_;
    if (const CRtspStream* other = OtherPin())
        latest = std::max<int64_t>(latest, other->last_receive_ns_);
    return latest + std::chrono::duration_cast<std::chrono::nanoseconds>(kEndQuiet).count();
}

bool CRtspStream::ServerQuiet() const {
    return SteadyNanoseconds() >= QuietDeadline();
}

void CRtspStream::WaitForData(int64_t deadline_ns) {
    if (quiet_deadline_ns_ != 0 && (deadline_ns == 0 || quiet_deadline_ns_ < deadline_ns))
        deadline_ns = quiet_deadline_ns_;
    DWORD timeout = INFINITE;
    if (deadline_ns != 0) {
        // Rounded up, so that the check after the wake finds the deadline passed.
        int64_t left = deadline_ns - SteadyNanoseconds();
        timeout = left <= 0 ? 0 : static_cast<DWORD>((left + 999999) / 1000000);
    }
    const HANDLE handles[2] = {event_, GetRequestHandle()};
    WaitForMultipleObjects(2, handles, FALSE, timeout);
}

CRtspStream::FrameWait CRtspStream::WaitForFrame(int64_t lead) {
    int64_t stall_deadline = 0;
    while (queue_.Count() == 0) {
        if (queue_.Stopped()) return FrameWait::kStopped;
        // The end queues the held frame: that one still goes out.
        if (CheckEndOfStream(lead)) {
            if (queue_.Count() > 0) break;
            return FrameWait::kEnded;
        }
        if (CommandPending()) return FrameWait::kCommand;
        if (filter_->shared().buffering()) return FrameWait::kBuffering;
        const int64_t now = SteadyNanoseconds();
        if (stall_deadline == 0)
            stall_deadline =
                now + std::chrono::duration_cast<std::chrono::nanoseconds>(kStallWait).count();
        else if (now >= stall_deadline)
            return FrameWait::kStalled;
        WaitForData(stall_deadline);
    }
    return queue_.Stopped() ? FrameWait::kStopped : FrameWait::kFrame;
}

CRtspStream::Step CRtspStream::StepAfterWait(FrameWait wait, bool stall_buffers,
                                             IMediaSample* sample, HRESULT& result) {
    switch (wait) {
        case FrameWait::kFrame:
            return Step::kPop;
        case FrameWait::kStalled:
            if (stall_buffers) filter_->shared().SetBuffering(true);
            return Step::kAgain;
        case FrameWait::kBuffering:
            return Step::kAgain;
        case FrameWait::kCommand:
            sample->SetActualDataLength(0);
            result = S_OK;
            return Step::kReturn;
        case FrameWait::kEnded:
        case FrameWait::kStopped:
            break;
    }
    result = S_FALSE;
    return Step::kReturn;
}

bool CRtspStream::PopInto(IMediaSample* sample, std::unique_ptr<QueuedSample>& popped) {
    popped = queue_.Pop();
    if (!popped) {
        sample->SetActualDataLength(0);
        return false;
    }
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    LONG room = sample->GetSize();
    LONG length = static_cast<LONG>(popped->bytes.size());
    if (length > room) length = room;
    std::memcpy(buffer, popped->bytes.data(), static_cast<size_t>(length));
    sample->SetActualDataLength(length);
    return true;
}

HRESULT CRtspStream::OnThreadCreate() {
    // The queue and the held frame were reset before PLAY (PrepareForPlay):
    // doing it here, after the server started sending, would lose the first
    // pictures and race the receive thread.
    queue_.Start();
    return S_OK;
}

HRESULT CRtspStream::OnThreadDestroy() {
    queue_.Stop();
    queue_.Flush();
    return S_OK;
}

HRESULT CRtspStream::OnThreadStartPlay() {
    MarkNewSegment();
    return CSeekingSourceStream::OnThreadStartPlay();
}

HRESULT CRtspStream::Inactive() {
    queue_.Stop();
    return CSourceStream::Inactive();
}

void CRtspStream::StopWorkerForSeek() {
    if (!ThreadExists()) return;
    DeliverBeginFlush();
    CSourceStream::Stop();
    DeliverEndFlush();
}

void CRtspStream::RunWorkerAfterSeek() {
    if (ThreadExists()) CSourceStream::Run();
}

}  // namespace rtspstream
