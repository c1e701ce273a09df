#include "filesource/branwick_audio_stream.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "filesource/branwick_source.h"
#include "filesource/media_types.h"

namespace filesource {

CBranwickAudioStream::CBranwickAudioStream(HRESULT* phr, CBranwickSource* filter)
    : CBranwickStream(TEXT("CBranwickAudioStream"), phr, filter, L"Audio") {}

int CBranwickAudioStream::SetupTrack(AvsContainer* container) {
    container_ = container;
    wave_format_ = WAVEFORMATEX{};
    wave_format_.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    track_ = container->first_track_id(kAudioHandler);
    timescale_ = container->track_timescale(track_);
    wave_format_.nSamplesPerSec = wave_format_.nAvgBytesPerSec = timescale_;
    sample_limit_ = static_cast<int64_t>(container->sample_count(track_));
    InitSeeking(container->duration_100ns());
    return 0;
}

HRESULT CBranwickAudioStream::GetMediaType(CMediaType* type) {
    HRESULT hr = make_audio_media_type(timescale_, type);
    if (SUCCEEDED(hr))
        wave_format_.wFormatTag = reinterpret_cast<const WAVEFORMATEX*>(type->Format())->wFormatTag;
    return hr;
}

HRESULT CBranwickAudioStream::CheckMediaType(const CMediaType* type) {
    CheckPointer(type, E_POINTER);
    const GUID sub = wave_format_subtype(wave_format_.wFormatTag);
    if (*type->Type() == MEDIATYPE_Audio && *type->Subtype() == sub &&
        *type->FormatType() == FORMAT_WaveFormatEx)
        return S_OK;
    return E_INVALIDARG;
}

HRESULT CBranwickAudioStream::Active() {
    filter_->audio_new_segment_pending() = true;
    return CBranwickStream::Active();
}

HRESULT CBranwickAudioStream::FillBuffer(IMediaSample* sample) {
    BYTE* buffer = nullptr;
    if (sample == nullptr || FAILED(sample->GetPointer(&buffer)) || buffer == nullptr)
        return S_FALSE;
    int64_t next = next_sample_.load();
    // Samples 1 to N are delivered; past N the stream ends.
    if (next > sample_limit_.load()) return S_FALSE;
    if (next < 1) next_sample_ = next = 1;

    TrackSample& s = fill_sample_;
    const size_t room = static_cast<size_t>(std::max<LONG>(0, sample->GetSize()));
    // Read straight into the delivery buffer; a frame larger than it is cut.
    const auto read = container_->read_stored_sample_into(track_, static_cast<uint64_t>(next),
                                                          std::span<uint8_t>(buffer, room), s);
    bool ok = read == AvsContainer::DirectRead::kRead;
    size_t n = s.length;
    if (read == AvsContainer::DirectRead::kTooLarge) {
        ok = container_->read_track_sample(track_, static_cast<uint64_t>(next), s);
        n = std::min(room, s.bytes.size());
        if (ok) std::memcpy(buffer, s.bytes.data(), n);
    }
    // An unreadable sample is passed on once as an empty sample and skipped;
    // a long run of them ends the stream.
    next_sample_ = next + 1;
    if (!ok) {
        if (EndsAfterUnreadable()) return S_FALSE;
        MakeEmpty(sample);
        return S_OK;
    }
    CountReadable();
    sample->SetActualDataLength(static_cast<LONG>(n));

    std::atomic<bool>& pending = filter_->audio_new_segment_pending();
    if (pending.load()) {
        if (!s.sync) {
            // Playback starts at a sync sample: this one's data is dropped.
            sample->SetActualDataLength(0);
            return S_OK;
        }
        pending = false;
        sample->SetDiscontinuity(TRUE);
        DeliverNewSegment(0, kOpenSegmentStop, 1.0);
    }
    SetTimes(sample, s.start, s.stop);
    sample->SetSyncPoint(s.sync ? TRUE : FALSE);
    return S_OK;
}

HRESULT CBranwickAudioStream::ChangeStart() {
    CopySegment();
    // With a video stream, the video's seek moves this stream too.
    if (filter_->video_stream() != nullptr) return S_OK;
    int64_t k = 0, offset = 0;
    {
        CAutoLock lock(&stream_lock_);
        REFERENCE_TIME start = 0, stop = 0;
        SeekingPositions(start, stop);
        k = proportional_sample(start, stop, sample_limit_.load());
        offset = start;
    }
    if (k > sample_limit_.load()) k = 1;  // past the end: from the start again
    Reposition(k, offset);
    return S_OK;
}

}  // namespace filesource
