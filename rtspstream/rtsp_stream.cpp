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
    : CSourceStream(object_name, phr, filter, pin_name),
      CSourceSeeking(TEXT("MediaSeeking"), static_cast<IPin*>(this), phr, filter->pStateLock()),
      filter_(filter) {
    event_ = CreateEventA(nullptr, FALSE, FALSE, event_name);
    if (event_ == nullptr && phr) *phr = E_OUTOFMEMORY;
}

CRtspStream::~CRtspStream() {
    if (event_) CloseHandle(event_);
}

STDMETHODIMP CRtspStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMediaSeeking) {
        if (filter_->live()) return E_NOINTERFACE;
        return CSourceSeeking::NonDelegatingQueryInterface(riid, ppv);
    }
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

void CRtspStream::SetDuration(int64_t duration) {
    {
        CAutoLock lock(CSourceSeeking::m_pLock);
        m_rtDuration = duration;
        m_rtStop = duration;
    }
    CopySegment();
    end_threshold_ = static_cast<uint64_t>(duration) - static_cast<uint64_t>(kEndMargin);
}

void CRtspStream::CopySegment() {
    CAutoLock lock(CSourceSeeking::m_pLock);
    segment_start_ = m_rtStart;
    segment_stop_ = m_rtStop;
    segment_rate_ = m_dRateSeeking;
}

void CRtspStream::PrepareForPlay() {
    stop_ = false;
    ending_ = false;
    received_ = false;
    queue_.Flush();
    held_length_ = 0;
    held_start_ = 0;
    newest_time_ = 0;
    accepting_ = CSourceStream::IsConnected() != FALSE;
}

void CRtspStream::FlushPin() {
    queue_.Flush();
    new_segment_pending_ = true;
    held_length_ = 0;
}

void CRtspStream::StopDelivery() {
    stop_ = true;
    SetEvent(event_);
    queue_.Flush();
}

bool CRtspStream::Push(std::unique_ptr<QueuedSample> sample) {
    while (queue_.total_bytes() >= kQueueLimitBytes) {
        if (stop_) return false;
        Sleep(1);
    }
    queue_.Push(std::move(sample));
    return true;
}

int CRtspStream::QueueHeld(int64_t time, bool sync) {
    if (held_length_ == 0) return 0;
    auto sample = std::make_unique<QueuedSample>();
    // The held bytes move into the queue: the next frame is held in a fresh buffer anyway.
    held_.resize(held_length_);
    sample->bytes = std::move(held_);
    held_ = std::vector<uint8_t>();
    held_length_ = 0;
    sample->sync = sync;
    sample->start = held_start_;
    sample->stop = time;
    if (!Push(std::move(sample))) return -1;
    SetEvent(event_);
    return 0;
}

void CRtspStream::Hold(const uint8_t* data, uint32_t length, int64_t time) {
    held_.assign(data, data + length);
    held_length_ = length;
    held_start_ = time;
    newest_time_ = time;
    last_receive_ns_ = SteadyNanoseconds();
    received_ = true;
}

bool CRtspStream::CheckEndOfStream(int64_t lead) {
    if (ending_) return true;
    if (!received_) return false;  // nothing yet: the newest time means nothing
    FILTER_STATE state = State_Stopped;
    filter_->GetState(0, &state);
    uint64_t threshold = end_threshold_;
    // Packet times count from where the connection's first PLAY started.
    auto newest = static_cast<uint64_t>(newest_time_.load() + filter_->time_origin.load());
    if (newest < threshold) return false;
    if (state != State_Running &&
        static_cast<uint64_t>(seeking_start()) < threshold - static_cast<uint64_t>(lead))
        return false;
    // The threshold is reached while a real-time server still sends the
    // last 2 s: end only once it has stopped.
    if (!ServerQuiet()) return false;
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

bool CRtspStream::ServerQuiet() const {
    int64_t latest = last_receive_ns_;
    if (const CRtspStream* other = OtherPin())
        latest = std::max<int64_t>(latest, other->last_receive_ns_);
    auto quiet = std::chrono::duration_cast<std::chrono::nanoseconds>(kEndQuiet).count();
    return SteadyNanoseconds() - latest >= quiet;
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

HRESULT CRtspStream::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) {
    CheckPointer(alloc, E_POINTER);
    CheckPointer(request, E_POINTER);
    request->cBuffers = 2;
    request->cbBuffer = kMaxFrameBytes;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = alloc->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < static_cast<LONG>(kMaxFrameBytes)) return E_FAIL;
    return S_OK;
}

HRESULT CRtspStream::OnThreadCreate() {
    // The queue and the held frame were reset before PLAY (PrepareForPlay):
    // doing it here, after the server started sending, would lose the first
    // pictures and race the receive thread.
    stop_ = false;
    return S_OK;
}

HRESULT CRtspStream::OnThreadDestroy() {
    stop_ = true;
    SetEvent(event_);
    queue_.Flush();
    return S_OK;
}

HRESULT CRtspStream::OnThreadStartPlay() {
    new_segment_pending_ = true;
    return DeliverNewSegment(segment_start_, segment_stop_, segment_rate_);
}

HRESULT CRtspStream::Inactive() {
    stop_ = true;
    SetEvent(event_);
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
