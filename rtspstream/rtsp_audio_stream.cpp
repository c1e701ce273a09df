#include "rtspstream/rtsp_audio_stream.h"

#include <algorithm>

#include "rtspstream/stream_media_types.h"
#include "rtspstream/tallowmere.h"

namespace rtspstream {

CRtspAudioStream::CRtspAudioStream(HRESULT* phr, CTallowmere* filter)
    : CRtspStream(TEXT("CRtspAudioStream"), phr, filter, L"Audio", "RtspAudioStream") {}

void CRtspAudioStream::SetFormat(const AudioFormatRecord& record, int64_t duration_seconds) {
    format_ = record;
    SetDuration(duration_seconds * 10000000);
}

LONGLONG CRtspAudioStream::FillPercentage() const {
    if (!buffering_here_) return 100;
    return static_cast<LONGLONG>(queue_.TotalBytes() * 100 / kBufferHighBytes);
}

HRESULT CRtspAudioStream::GetMediaType(CMediaType* mt) {
    format_.w_format_tag = kWaveFormatMpeg;
    format_tag_ = kWaveFormatMpeg;
    return BuildAudioMediaType(format_, mt);
}

HRESULT CRtspAudioStream::CheckMediaType(const CMediaType* mt) {
    return CheckAudioMediaType(mt, format_tag_);
}

int CRtspAudioStream::Deliver(const uint8_t* data, uint32_t length, int64_t time) {
    if (data == nullptr || length < 5 || length > kMaxFrameBytes) return 0;
    if (!accepting_) return 0;
    int result = QueueHeld(time);
    Hold(data, length, time, true);
    return result;
}

HRESULT CRtspAudioStream::FillBuffer(IMediaSample* sample) {
    BYTE* buffer = nullptr;
    if (FAILED(sample->GetPointer(&buffer)) || buffer == nullptr) return S_FALSE;
    // Buffering happens at the start of a run and after a stall (nothing came for
    // kStallWait); a queue that runs dry between real-time frames is no stall.
    for (;;) {
        if (filter_->shared().buffering()) {
            AvsTrace("Audio Start Buffering (%llu)...",
                     static_cast<unsigned long long>(queue_.TotalBytes()));
            buffering_here_ = true;
            bool ending = false;
            while (queue_.TotalBytes() <= kBufferHighBytes) {
                // Nothing more will come: what is queued goes out without a pause.
                if ((ending = CheckEndOfStream(0) && queue_.Count() > 0)) break;
                if (queue_.Stopped() || (ending_ && queue_.Count() == 0)) {
                    buffering_here_ = false;
                    filter_->shared().SetBuffering(false);
                    return S_FALSE;
                }
                if (GiveBackForCommand(sample)) return S_OK;
                WaitForData();
            }
            AvsTrace("Audio End buffering (%llu)...",
                     static_cast<unsigned long long>(queue_.TotalBytes()));
            buffering_here_ = false;
            if (!ending) new_segment_pending_ = true;
            filter_->shared().SetBuffering(false);
        }
        HRESULT result = S_OK;
        const Step step = StepAfterWait(WaitForFrame(0), true, sample, result);
        if (step == Step::kPop) break;
        if (step == Step::kReturn) return result;
    }
    std::unique_ptr<QueuedSample> popped;
    if (!PopInto(sample, popped)) return S_FALSE;
    NoteLossAt(*popped);
    if (need_sync_.exchange(false)) sample->SetDiscontinuity(TRUE);
    if (new_segment_pending_.exchange(false)) DeliverNewSegment(0, kOpenSegmentStop, 1.0);
    REFERENCE_TIME base = filter_->shared().base_time();
    REFERENCE_TIME start = popped->start - base, stop = popped->stop - base;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(popped->sync ? TRUE : FALSE);
    return S_OK;
}

HRESULT CRtspAudioStream::ChangeStart() {
    CopySegment();
    if (filter_->video_pin() != nullptr) return S_OK;  // the video pin's seek moves both
    if (filter_->state() == State_Stopped) {
        seek_pending_ = true;  // the next Pause plays from here
        return S_OK;
    }
    CAutoLock seek(filter_->shared().seek_lock());
    CRtspReceive* receive = filter_->receive();
    RefuseFrames();
    if (receive) receive->Pause();
    StopWorkerForSeek();
    // The held frame is from before the seek: queued behind the first frame after it,
    // it would go out with a stop time before its start.
    FlushPin();
    ResetEnd();
    // Packet times count from where the connection's first PLAY started.
    filter_->shared().SetBaseTime(segment_start() - filter_->shared().time_origin());
    AcceptFrames();
    if (receive)
        receive->PlayRange(static_cast<uint32_t>(segment_start() / 10000),
                           static_cast<uint32_t>(segment_stop() / 10000));
    RunWorkerAfterSeek();
    return S_OK;
}

}  // namespace rtspstream
