#include "rtspstream/rtsp_video_stream.h"

#include <sys/time.h>

#include <algorithm>
#include <cstring>

#include "rtspstream/bitrate_log.h"
#include "rtspstream/rtsp_audio_stream.h"
#include "rtspstream/stream_media_types.h"
#include "rtspstream/tallowmere.h"

namespace rtspstream {

namespace {

uint64_t NowMilliseconds() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<uint64_t>(tv.tv_sec) * 1000 + static_cast<uint64_t>(tv.tv_usec / 1000);
}

}  // namespace

bool HoldsIntraPicture(const uint8_t* data, uint32_t length) {
    if (length < 5) return false;
    // A match 00 00 01 B3 must begin at least 5 bytes before the end. Coded data has
    // a 0x01 byte about every 256 bytes, so memchr for it and a look either side beats
    // a general substring search several times over on a picture of tens of kB.
    const uint8_t* one = data + 2;                  // the earliest place of the 0x01
    const uint8_t* const last = data + length - 3;  // the latest place of the 0x01
    while (one <= last) {
        one = static_cast<const uint8_t*>(
            std::memchr(one, 0x01, static_cast<size_t>(last - one) + 1));
        if (one == nullptr) return false;
        if (one[1] == 0xB3 && one[-1] == 0x00 && one[-2] == 0x00) return true;
        ++one;
    }
    return false;
}

CRtspVideoStream::CRtspVideoStream(HRESULT* phr, CTallowmere* filter)
    : CRtspStream(TEXT("CRtspVideoStream"), phr, filter, L"Video", "RtspVideoStream") {}

bool CRtspVideoStream::SeekingOffered() const {
    return filter_->shared().seek_allowed() && CRtspStream::SeekingOffered();
}

void CRtspVideoStream::SetHeader(const uint8_t* header_bytes, int32_t header_length,
                                 int64_t duration_seconds) {
    size_t length = header_length > 0 ? static_cast<size_t>(header_length) : 0;
    length = std::min(length, avs::kHeaderBytesRoom);
    avs::DecodeSequenceHeaderFixed(header_bytes, length, header_);
    // Keep what was handed over: it is the header sample.
    header_.header_length = static_cast<int32_t>(length);
    std::memset(header_.header_bytes, 0, sizeof header_.header_bytes);
    std::memcpy(header_.header_bytes, header_bytes, length);
    int64_t d = duration_seconds * 10000000;
    SetDuration(d);
    filter_->shared().SetDuration(d);
}

HRESULT CRtspVideoStream::GetMediaType(CMediaType* mt) {
    return BuildVideoMediaType(header_, mt);
}

HRESULT CRtspVideoStream::CheckMediaType(const CMediaType* mt) {
    return CheckVideoMediaType(mt);
}

int CRtspVideoStream::Deliver(const uint8_t* data, uint32_t length, int64_t time) {
    if (data == nullptr || length > kMaxFrameBytes || queue_.Stopped()) {
        // A picture dropped here leaves the next ones undecodable until an I picture.
        if (length > kMaxFrameBytes && accepting_) NoteLoss();
        AvsTrace("Data too long");
        return 0;
    }
    if (length <= 4) {
        AvsTrace("Data too short");
        return 0;
    }
    if (!accepting_) return 0;
    int result = QueueHeld(time);
    Hold(data, length, time, HoldsIntraPicture(data, length));
    return result;
}

HRESULT CRtspVideoStream::FillBuffer(IMediaSample* sample) {
    BYTE* buffer = nullptr;
    if (FAILED(sample->GetPointer(&buffer)) || buffer == nullptr) {
        AvsTrace("CRtspVideoStream::FillBuffer() Failed to get sample pointer");
        return S_FALSE;
    }
    if (send_header_first_) {
        LONG length = std::min<LONG>(header_.header_length, sample->GetSize());
        std::memcpy(buffer, header_.header_bytes, static_cast<size_t>(std::max<LONG>(length, 0)));
        sample->SetActualDataLength(std::max<LONG>(length, 0));
        send_header_first_ = false;
        return S_OK;
    }
    // Buffering happens at the start of a run and after a stall; a queue that
    // merely runs dry between the frames of a real-time server is no stall.
    for (;;) {
        if (filter_->shared().buffering()) {
            AvsTrace("Video Start Buffering (%llu)...",
                     static_cast<unsigned long long>(queue_.TotalBytes()));
            buffering_here_ = true;
            bool ending = false;
            while (filter_->shared().buffering()) {
                if ((ending = CheckEndOfStream(10000000))) break;  // nothing more will come
                if (queue_.Stopped()) {
                    buffering_here_ = false;
                    AvsTrace("CRtspVideoStream::FillBuffer() Stop");
                    return S_FALSE;
                }
                if (GiveBackForCommand(sample)) return S_OK;
                WaitForData();
                if (queue_.TotalBytes() > kBufferHighBytes && !filter_->audio_drives_buffering())
                    filter_->shared().SetBuffering(false);
            }
            AvsTrace("Video End buffering (%llu)...",
                     static_cast<unsigned long long>(queue_.TotalBytes()));
            buffering_here_ = false;
            // Time restarts after the wait; the pictures themselves lost nothing.
            if (!ending) new_segment_pending_ = true;
            // Nothing more will come: no point in buffering again.
            if (ending && !filter_->audio_drives_buffering()) filter_->shared().SetBuffering(false);
        }
        // With audio, the audio pin decides when both wait.
        HRESULT result = S_OK;
        const Step step = StepAfterWait(WaitForFrame(10000000), !filter_->audio_drives_buffering(),
                                        sample, result);
        if (step == Step::kPop) break;
        if (step == Step::kReturn) return result;
    }

    std::unique_ptr<QueuedSample> popped;
    if (!PopInto(sample, popped)) return S_FALSE;
    BitRateLog::Module().Add(static_cast<uint32_t>(sample->GetActualDataLength()),
                             NowMilliseconds());
    NoteLossAt(*popped);
    if (need_sync_) {
        if (!popped->sync) {
            // Pictures before the segment's first I picture cannot be decoded.
            sample->SetActualDataLength(0);
            return S_OK;
        }
        need_sync_ = false;
        sample->SetDiscontinuity(TRUE);
    }
    if (new_segment_pending_.exchange(false)) DeliverNewSegment(0, kOpenSegmentStop, 1.0);
    REFERENCE_TIME base = filter_->shared().base_time();
    REFERENCE_TIME start = popped->start - base, stop = popped->stop - base;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(next_not_sync_.exchange(false) ? FALSE : TRUE);
    return S_OK;
}

HRESULT CRtspVideoStream::ChangeStart() {
    CopySegment();
    if (filter_->state() == State_Stopped) {
        next_not_sync_ = true;
        seek_pending_ = true;
        return S_OK;
    }
    seek_pending_ = false;
    CAutoLock seek(filter_->shared().seek_lock());
    CRtspReceive* receive = filter_->receive();
    CRtspAudioStream* audio = filter_->audio_pin();
    // The receive thread may be held in a full queue: let it go before PAUSE,
    // or it cannot read the reply.
    RefuseFrames();
    if (audio) audio->RefuseFrames();
    if (receive) receive->Pause();
    filter_->shared().SetSeekAllowed(false);
    StopWorkerForSeek();
    if (audio) audio->StopWorkerForSeek();
    // Held frames are from before the seek: queued behind the first frame after it,
    // they would go out with a stop time before their start.
    FlushPin();
    if (audio) audio->FlushPin();
    ResetEnd();
    if (audio) audio->ResetEnd();
    // Packet times count from where the connection's first PLAY started.
    filter_->shared().SetBaseTime(segment_start() - filter_->shared().time_origin());
    // Set while the worker is stopped, so that no picture popped before the seek takes it.
    next_not_sync_ = true;
    AcceptFrames();
    if (audio) audio->AcceptFrames();
    if (receive)
        receive->PlayRange(static_cast<uint32_t>(segment_start() / 10000),
                           static_cast<uint32_t>(segment_stop() / 10000));
    RunWorkerAfterSeek();
    if (audio) audio->RunWorkerAfterSeek();
    filter_->shared().SetSeekAllowed(true);
    return S_OK;
}

}  // namespace rtspstream
